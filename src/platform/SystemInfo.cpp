#include "platform/SystemInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>

#ifdef __APPLE__
#include <sys/sysctl.h>
#endif

namespace platform {

OSVersion SystemInfo::parseVersion(const std::string& text) {
    int64_t parts[3] = {0, 0, 0};
    size_t i = 0;
    for (int p = 0; p < 3; ++p) {
        if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) break;
        int64_t value = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            if (value < 100000000) value = value * 10 + (text[i] - '0');
            ++i;
        }
        parts[p] = value;
        if (i >= text.size() || text[i] != '.') break;
        ++i;
    }
    return {parts[0], parts[1], parts[2]};
}

OSVersion SystemInfo::osVersion() {
#ifdef __APPLE__
    char buf[64] = {};
    size_t size = sizeof buf - 1;
    if (sysctlbyname("kern.osproductversion", buf, &size, nullptr, 0) == 0) return parseVersion(buf);
    return {};
#else
    utsname u{};
    if (::uname(&u) != 0) return {};
    return parseVersion(u.release);
#endif
}

int64_t SystemInfo::processorCount() {
    long n = ::sysconf(_SC_NPROCESSORS_CONF);
    return n > 0 ? n : 1;
}

uint64_t SystemInfo::physicalMemory() {
#ifdef __APPLE__
    uint64_t mem = 0;
    size_t size = sizeof mem;
    if (sysctlbyname("hw.memsize", &mem, &size, nullptr, 0) == 0) return mem;
    return 0;
#else
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
#endif
}

}  // namespace platform
