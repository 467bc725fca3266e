// The prefix and registry reports of the launcher log. They only read the
// disk and run on the caller's thread.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "common/Constants.h"
#include "common/WineText.h"
#include "logging/Logger.h"

namespace {

// The whole file as UTF-8 text; nullopt when it cannot be read or is not text.
std::optional<std::string> readText(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            text.append(buf, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ::close(fd);
            return std::nullopt;  // e.g. a directory where the file should be
        }
    }
    ::close(fd);
    if (!WineText::isValidUtf8(text)) return std::nullopt;
    return text;
}

std::string_view trimBlanksAndTabs(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

}  // namespace

std::vector<std::string> Logger::registryOverrideLines(const std::string& userReg) {
    static constexpr std::string_view kKey = "DllOverrides";
    std::vector<std::string> out;
    bool inSection = false;
    std::string_view rest = userReg;
    while (true) {
        const auto newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        // A file saved with CRLF line ends must not leave a carriage return
        // in the middle of the launcher log.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        const bool mentionsKey = line.find(kKey) != std::string_view::npos;
        if (mentionsKey) inSection = true;
        if (inSection) {
            if (!line.empty() && line.front() == '[' && !mentionsKey) break;  // the next key has begun
            // "#time=..." and the like are Wine's bookkeeping, not values.
            const std::string_view value = trimBlanksAndTabs(line);
            if (value.find('=') != std::string_view::npos && value.front() != '#') {
                out.push_back("  Override: " + std::string(value));
            }
        }
        if (newline == std::string_view::npos) break;
        rest.remove_prefix(newline + 1);
    }
    return out;
}

void Logger::logPrefixState() {
    const std::string& prefix = Constants::prefixPath();
    std::error_code ec;
    info(std::string("Prefix exists: ") + (std::filesystem::exists(prefix + "/system.reg", ec) ? "true" : "false"));
    info(std::string("Steam exists: ") +
         (std::filesystem::exists(prefix + Constants::steamExeUnix, ec) ? "true" : "false"));
    for (const char* dir : {"system32", "syswow64"}) {
        for (const char* dll : Constants::mesaDLLs) {
            const std::string name = std::string(dir) + "/" + dll;
            const std::string path = prefix + "/drive_c/windows/" + name;
            if (!std::filesystem::exists(path, ec)) {
                warn("  " + name + ": MISSING");
                continue;
            }
            const auto size = std::filesystem::file_size(path, ec);
            info("  " + name + ": " + std::to_string(ec ? 0 : size) + " bytes");
        }
    }
}

void Logger::logWineRegistryOverrides() {
    const auto text = readText(Constants::prefixPath() + "/user.reg");
    if (!text) return;
    for (const auto& line : registryOverrideLines(*text)) info(line);
}
