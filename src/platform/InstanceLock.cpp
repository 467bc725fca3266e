#include "platform/InstanceLock.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/RegularFile.h"

namespace platform {

InstanceLock::Outcome InstanceLock::acquire(const std::string& directory) {
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    const int fd = RegularFile::create(directory + "/launcher.lock");
    if (fd < 0) return Outcome::unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return Outcome::acquired;  // the descriptor stays open until the process ends
    const bool elsewhere = errno == EWOULDBLOCK;
    ::close(fd);
    return elsewhere ? Outcome::heldElsewhere : Outcome::unavailable;
}

}  // namespace platform
