#include "platform/Background.h"

#include <thread>

namespace platform {

void runInBackground(std::function<void()> work) {
    std::thread(std::move(work)).detach();
}

}  // namespace platform
