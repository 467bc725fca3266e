#include "support/Undeletable.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#ifdef __linux__
#include <linux/fs.h>
#endif

namespace testsupport {

namespace {

bool setImmutable(const std::string& path, bool on) {
#ifdef __linux__
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    int flags = 0;
    bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
#else
    return (void)path, (void)on, false;
#endif
}

std::string parentOf(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

}  // namespace

Undeletable::Undeletable(std::string path) : path_(std::move(path)) {
    immutable_ = setImmutable(path_, true);
    // A read-only directory stops every user but root.
    if (!immutable_ && ::geteuid() != 0) readOnlyParent_ = ::chmod(parentOf(path_).c_str(), 0555) == 0;
}

Undeletable::~Undeletable() {
    if (immutable_) setImmutable(path_, false);
    if (readOnlyParent_) ::chmod(parentOf(path_).c_str(), 0755);
}

}  // namespace testsupport
