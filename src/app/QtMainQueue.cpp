#include "app/QtMainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "platform/MainQueue.h"

void QtMainQueue::install() {
    platform::MainQueue::setPoster([](platform::MainQueue::Task task) {
        // Queued onto the application object, which lives on the main thread;
        // tasks run in the order they were posted.
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
    });
}
