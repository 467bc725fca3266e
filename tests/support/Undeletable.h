#pragma once

#include <fcntl.h>
#if __has_include(<linux/fs.h>)
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace testsupport {

// Pins one existing file or directory for the object's lifetime: the file system's immutable flag (which
// stops even root) where it takes, else, for anyone but root, a read-only parent. Tests skip unless active().
class Undeletable {
public:
    explicit Undeletable(std::string path) : path_(std::move(path)) {
        immutable_ = setImmutable(true);
        readOnlyParent_ = !immutable_ && ::geteuid() != 0 && ::chmod(parent().c_str(), 0555) == 0;
    }
    ~Undeletable() {
        if (immutable_) setImmutable(false);
        if (readOnlyParent_) ::chmod(parent().c_str(), 0755);
    }
    Undeletable(const Undeletable&) = delete;
    bool active() const { return immutable_ || readOnlyParent_; }

private:
    std::string parent() const { return std::filesystem::path(path_).parent_path().string(); }
    bool setImmutable([[maybe_unused]] bool on) const {
#ifndef FS_IOC_SETFLAGS
        return false;  // macOS: tests run as a user there, so the read-only parent pins
#else
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        int flags = 0;
        const bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                        (flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL, true) &&
                        ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        return fd >= 0 && ::close(fd), ok;
#endif
    }

    std::string path_;
    bool immutable_ = false, readOnlyParent_ = false;
};

}  // namespace testsupport
