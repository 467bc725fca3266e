#include "platform/MainQueue.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <shared_mutex>
#include <thread>

#include "platform/ThreadContract.h"

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
// The thread that installed the current poster; empty while there is none.
std::atomic<std::thread::id> mainThread{};
}  // namespace

void MainQueue::setPoster(Poster poster) {
    std::unique_lock lock(posterMutex);
    mainThread = poster ? std::this_thread::get_id() : std::thread::id{};
    currentPoster() = std::move(poster);
}

bool isMainThread() {
    const std::thread::id owner = mainThread;
    return owner == std::thread::id{} || owner == std::this_thread::get_id();
}

void mainThreadViolated(const char* function) {
    std::fprintf(stderr, "%s: main thread only, called on another thread\n", function);
    std::abort();
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
