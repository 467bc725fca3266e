#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace testsupport {

// Makes one existing file or directory impossible to remove for the object's
// lifetime: the file system's immutable flag (which stops even root) where it
// takes, else, for anyone but root, a read-only parent directory. active()
// tells whether the pin holds; tests skip when it does not.
class Undeletable {
public:
    explicit Undeletable(std::string path)
        : path_(std::move(path)), parent_(std::filesystem::path(path_).parent_path().string()) {
        immutable_ = setImmutable(true);
        if (!immutable_ && ::geteuid() != 0) readOnlyParent_ = ::chmod(parent_.c_str(), 0555) == 0;
    }
    ~Undeletable() {
        if (immutable_) setImmutable(false);
        if (readOnlyParent_) ::chmod(parent_.c_str(), 0755);
    }
    Undeletable(const Undeletable&) = delete;
    bool active() const { return immutable_ || readOnlyParent_; }

private:
    bool setImmutable(bool on) const {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        int flags = 0;
        bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0) ::close(fd);
        return ok;
    }

    std::string path_, parent_;
    bool immutable_ = false, readOnlyParent_ = false;
};

}  // namespace testsupport
