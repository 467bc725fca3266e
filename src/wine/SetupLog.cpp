#include "wine/SetupLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "wine/WineText.h"

namespace {

std::string header(const std::vector<std::string>& arguments) {
    return "--- wine " + WineText::joinArguments(arguments) + " ---\n";
}

// The whole file, or nothing when it is missing, not a regular file or
// unreadable.
std::optional<std::string> readWhole(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string text;
    text.reserve(static_cast<size_t>(st.st_size));
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes into a fresh file beside the target and renames it over the target.
// A failure leaves the target as it was and removes the temporary file.
void replaceAtomically(const std::string& path, const std::string& text) {
    std::string temp = path + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return;
    ::fchmod(fd, 0644);
    const bool written = writeAll(fd, text);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) ::unlink(temp.c_str());
}

}  // namespace

std::string SetupLog::startedSection(const std::vector<std::string>& arguments, const std::string& output) {
    return header(arguments) + output;
}

std::string SetupLog::failedSection(const std::vector<std::string>& arguments, const std::string& message) {
    return header(arguments) + message + "\n";
}

std::string SetupLog::appended(const std::optional<std::string>& previous, const std::string& section, bool started) {
    if (!previous) return section;
    std::string text;
    text.reserve(previous->size() + section.size() + 1);
    text = *previous;
    if (started && !previous->empty()) text += '\n';
    text += section;
    return text;
}

void SetupLog::append(const std::string& path, const std::string& section, bool started) {
    // One process-wide lock: every PrefixManager shares the one log.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    auto previous = readWhole(path);
    if (previous && !WineText::isValidUtf8(*previous)) previous.reset();
    replaceAtomically(path, appended(previous, section, started));
}
