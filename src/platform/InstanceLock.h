#pragma once

#include <string>

namespace platform {

// An exclusive lock on a directory for the life of the process: flock() on a
// lock file inside it. The kernel drops the lock when the process ends, killed
// or not, and the descriptor is close-on-exec, so no child (a Wine server that
// outlives its launcher) keeps holding it.
class InstanceLock {
public:
    enum class Outcome {
        acquired,       // this process holds the lock until it ends
        heldElsewhere,  // another process holds it
        unavailable,    // no lock file could be opened; nothing is held
    };

    // Creates `directory` when it is missing. Never blocks.
    [[nodiscard]] static Outcome acquire(const std::string& directory);
};

}  // namespace platform
