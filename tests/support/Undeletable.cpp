#include "support/Undeletable.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#ifdef __linux__
#include <linux/fs.h>
#endif

namespace fs = std::filesystem;

namespace testsupport {

namespace {

bool setImmutable(const std::string& path, bool on) {
#ifdef __linux__
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
#else
    (void)path;
    (void)on;
    return false;
#endif
}

// Whether an unlink in the file's directory is refused right now, checked
// on a probe hard link so the file itself is never at risk.
bool removalRefused(const std::string& path) {
    const std::string probe = fs::path(path).parent_path().string() + "/.undeletable-probe";
    if (::link(path.c_str(), probe.c_str()) != 0) return true;  // cannot even add an entry
    const bool refused = ::unlink(probe.c_str()) != 0;
    return refused;
}

}  // namespace

Undeletable::Undeletable(std::string path) : path_(std::move(path)) {
    immutable_ = setImmutable(path_, true);
    if (immutable_) {
        active_ = true;  // the flag was accepted, so the file system enforces it
        return;
    }
    const std::string parent = fs::path(path_).parent_path().string();
    readOnlyParent_ = ::chmod(parent.c_str(), 0555) == 0;
    active_ = readOnlyParent_ && removalRefused(path_);
}

Undeletable::~Undeletable() {
    release();
}

void Undeletable::release() {
    if (immutable_) setImmutable(path_, false);
    if (readOnlyParent_) ::chmod(fs::path(path_).parent_path().c_str(), 0755);
    immutable_ = readOnlyParent_ = false;
}

}  // namespace testsupport
