#include "platform/MainQueue.h"

#include <shared_mutex>

namespace platform {

namespace {
// Held shared while a poster runs and exclusively while it is replaced, so
// once setPoster returns no thread is still inside the previous poster: its
// owner (a test's queue, the window) may go away.
std::shared_mutex posterMutex;
MainQueue::Poster& currentPoster() {
    static MainQueue::Poster poster;
    return poster;
}
}  // namespace

void MainQueue::setPoster(Poster poster) {
    std::unique_lock lock(posterMutex);
    currentPoster() = std::move(poster);
}

void MainQueue::post(Task task) {
    std::shared_lock lock(posterMutex);
    if (const Poster& poster = currentPoster()) {
        poster(std::move(task));
    } else {
        ManualQueue::fallback().push(std::move(task));
    }
}

void ManualQueue::push(MainQueue::Task task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    cv_.notify_all();
}

int ManualQueue::drain() {
    int ran = 0;
    for (;;) {
        MainQueue::Task task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) return ran;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        ++ran;
    }
}

bool ManualQueue::drainUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        drain();
        if (done()) return true;
        std::unique_lock lock(mutex_);
        if (!cv_.wait_until(lock, deadline, [&] { return !tasks_.empty(); })) {
            lock.unlock();
            drain();
            return done();
        }
    }
}

size_t ManualQueue::pending() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

void ManualQueue::install() {
    MainQueue::setPoster([this](MainQueue::Task task) { push(std::move(task)); });
}

ManualQueue& ManualQueue::fallback() {
    static ManualQueue queue;
    return queue;
}

}  // namespace platform
