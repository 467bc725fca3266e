#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace platform {

// The hop onto the UI thread. The application installs a poster that hands
// work to its event loop; tests install a ManualQueue and drain it. Work
// posted before any poster is installed goes to a process-wide ManualQueue.
namespace MainQueue {
using Task = std::function<void()>;
using Poster = std::function<void(Task)>;

// Returns once no thread is still inside the previous poster, so its owner
// may then be destroyed. A poster must not call setPoster itself.
void setPoster(Poster poster);
// Never runs `task` inline; safe from any thread.
void post(Task task);
}  // namespace MainQueue

// A FIFO of posted tasks that its owner runs explicitly.
class ManualQueue {
public:
    void push(MainQueue::Task task);
    // Runs every task queued so far, including ones they post; returns how many ran.
    int drain();
    // Drains until `done()` holds or `timeout` passes; true when it held.
    bool drainUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    [[nodiscard]] size_t pending() const;
    // Makes this queue the MainQueue's poster.
    void install();
    // The queue used before any poster is installed.
    static ManualQueue& fallback();

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<MainQueue::Task> tasks_;
};

}  // namespace platform
