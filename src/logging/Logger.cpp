#include "logging/Logger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "common/Constants.h"
#include "platform/RegularFile.h"

Logger& Logger::shared() {
    static Logger instance;
    return instance;
}

const std::string& Logger::logPath() {
    static const std::string path = Constants::supportDir() + "/launcher.log";
    return path;
}

Logger::Logger() {
    std::error_code ec;
    std::filesystem::create_directories(Constants::supportDir(), ec);
    // Start every run with an empty log; a failure (or a log that is not a
    // regular file) leaves later lines dropped.
    int fd = platform::RegularFile::create(logPath());
    if (fd >= 0) ::close(fd);
}

std::string Logger::formatLine(int hour, int minute, int second, int millisecond, const std::string& level,
                               const std::string& message) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d.%03d] [", hour, minute, second, millisecond);
    std::string line = stamp;
    line.reserve(line.size() + level.size() + message.size() + 3);
    line += level;
    line += "] ";
    line += message;
    line += '\n';
    return line;
}

void Logger::log(const std::string& message, const std::string& level) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    const std::string line =
        formatLine(local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms), level, message);

    // No O_CREAT: once the log is gone, lines are dropped until the next start.
    // Each caller opens and closes its own descriptor outside the lock, which
    // only keeps lines whole, so threads logging at once open and close side
    // by side instead of queueing for the whole round trip.
    int fd = platform::RegularFile::open(logPath(), O_APPEND);
    if (fd < 0) return;
    {
        std::lock_guard lock(appendMutex_);
        const char* data = line.data();
        size_t left = line.size();
        while (left > 0) {
            ssize_t n = ::write(fd, data, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                break;
            }
            data += n;
            left -= static_cast<size_t>(n);
        }
    }
    ::close(fd);
}

std::vector<std::string> Logger::systemReportLines(const platform::OSVersion& os, int64_t cores, uint64_t memoryBytes,
                                                   const std::string& supportDir, const std::string& prefixPath,
                                                   const std::string& wineBin) {
    return {
        "macOS " + std::to_string(os.major) + "." + std::to_string(os.minor) + "." + std::to_string(os.patch),
        "CPU cores: " + std::to_string(cores),
        "RAM: " + std::to_string(memoryBytes / 1073741824ULL) + " GB",
        "Support dir: " + supportDir,
        "Prefix: " + prefixPath,
        "Wine: " + wineBin,
    };
}

void Logger::logSystemInfo() {
    for (const auto& line : systemReportLines(platform::SystemInfo::osVersion(), platform::SystemInfo::processorCount(),
                                              platform::SystemInfo::physicalMemory(), Constants::supportDir(),
                                              Constants::prefixPath(), Constants::wineBin())) {
        info(line);
    }
}
