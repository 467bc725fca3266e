#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform::RegularFile {

int open(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | flags, 0644);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

int create(const std::string& path) {
    const int fd = open(path, O_CREAT | O_TRUNC);
    if (fd >= 0 || errno != ELOOP) return fd;
    // O_NOFOLLOW met a link: it goes, and a file of our own takes its place.
    if (::unlink(path.c_str()) != 0) return -1;
    return open(path, O_CREAT | O_TRUNC | O_EXCL);
}

}  // namespace platform::RegularFile
