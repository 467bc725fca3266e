#pragma once

#include <functional>

namespace platform {

// Runs `work` on a new detached thread. Work items block for minutes
// (installers, repair), so there is deliberately no pool with a size cap.
void runInBackground(std::function<void()> work);

}  // namespace platform
