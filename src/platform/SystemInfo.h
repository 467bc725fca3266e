#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct OSVersion {
    int64_t major = 0;
    int64_t minor = 0;
    int64_t patch = 0;
};

namespace SystemInfo {
// macOS: the product version. Linux: the kernel release's leading numbers.
[[nodiscard]] OSVersion osVersion();
// Parses "6.1.0-18-amd64" or "14.5" into a triple; missing parts are 0.
[[nodiscard]] OSVersion parseVersion(const std::string& text);
[[nodiscard]] int64_t processorCount();
[[nodiscard]] uint64_t physicalMemory();
}  // namespace SystemInfo

}  // namespace platform
