#pragma once

#include <functional>

namespace platform {

// Runs one work item off the main thread. The controller's sequencers take one
// so that tests can run their bodies inline or hold them; empty means
// runInBackground.
using Executor = std::function<void(std::function<void()>)>;

// Runs `work` on a new detached thread. Work items block for minutes
// (installers, repair), so there is deliberately no pool with a size cap.
void runInBackground(std::function<void()> work);

// `executor`, or runInBackground when it is empty.
[[nodiscard]] inline Executor orBackground(Executor executor) {
    return executor ? std::move(executor) : Executor(runInBackground);
}

}  // namespace platform
