#include <QApplication>
#include <QTimer>

#include "app/AppDelegate.h"
#include "app/QtMainQueue.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Ferrowick");
    QtMainQueue::install();

    AppDelegate delegate;
    delegate.installAsApplicationDelegate();
    // Start-up runs from inside the event loop, like a finished launch.
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    app.exec();
    return 0;
}
