#include "app/QtMainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <deque>
#include <mutex>

#include "platform/MainQueue.h"

namespace {
// Tasks wait here, under a mutex, rather than inside Qt's event queue: Qt's
// own locks are invisible to ThreadSanitizer (Debian's Qt is not built with
// it), so a task handed over through Qt alone looks like a race between the
// posting thread that built it and the main thread that runs it. Each posted
// event carries no state and runs the oldest waiting task. Never destroyed,
// because detached background threads may still post while the process exits.
struct Pending {
    std::mutex mutex;
    std::deque<platform::MainQueue::Task> tasks;
};

Pending& pending() {
    static auto* instance = new Pending;
    return *instance;
}

void runOldest() {
    platform::MainQueue::Task task;
    {
        std::lock_guard lock(pending().mutex);
        if (pending().tasks.empty()) return;
        task = std::move(pending().tasks.front());
        pending().tasks.pop_front();
    }
    task();
}

// Tasks of an application object that is gone never run, as with Qt's own
// posted events; a later application object must not inherit them.
void dropWaiting() {
    std::deque<platform::MainQueue::Task> dropped;
    std::lock_guard lock(pending().mutex);
    dropped.swap(pending().tasks);
}
}  // namespace

void QtMainQueue::install() {
    QObject::connect(QCoreApplication::instance(), &QObject::destroyed, &dropWaiting);
    platform::MainQueue::setPoster([](platform::MainQueue::Task task) {
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr) return;
        {
            std::lock_guard lock(pending().mutex);
            pending().tasks.push_back(std::move(task));
        }
        // Queued onto the application object, which lives on the main thread;
        // tasks run in the order they were posted.
        QMetaObject::invokeMethod(app, &runOldest, Qt::QueuedConnection);
    });
}
