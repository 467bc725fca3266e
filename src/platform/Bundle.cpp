#include "platform/Bundle.h"

#include <filesystem>
#include <mutex>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace platform {

namespace {
std::mutex overrideMutex;
std::string& overridePath() {
    static std::string path;
    return path;
}
}  // namespace

std::string Bundle::executableDirectory() {
    std::error_code ec;
#ifdef __APPLE__
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::string buf(size, '\0');
    if (_NSGetExecutablePath(buf.data(), &size) != 0) return {};
    auto exe = std::filesystem::weakly_canonical(buf.c_str(), ec);
#else
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
#endif
    if (ec) return {};
    return exe.parent_path().string();
}

std::string Bundle::resourcePath() {
    {
        std::lock_guard lock(overrideMutex);
        if (!overridePath().empty()) return overridePath();
    }
    const std::string dir = executableDirectory();
#ifdef __APPLE__
    return dir + "/../Resources";
#else
    std::error_code ec;
    const std::string shared = dir + "/../share/ferrowick";
    if (std::filesystem::is_directory(shared, ec)) {
        return std::filesystem::weakly_canonical(shared, ec).string();
    }
    return dir + "/resources";
#endif
}

void Bundle::overrideResourcePath(std::string path) {
    std::lock_guard lock(overrideMutex);
    overridePath() = std::move(path);
}

}  // namespace platform
