#include "app/LauncherMain.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "app/AppDelegate.h"
#include "app/QtMainQueue.h"
#include "common/Constants.h"
#include "platform/InstanceLock.h"

int launcherMain(int argc, char** argv) {
    // Before anything touches the support directory (the delegate empties the
    // log): a second launcher on it leaves the first one's log, downloads and
    // prefix alone, and goes.
    if (platform::InstanceLock::acquire(Constants::supportDir()) == platform::InstanceLock::Outcome::heldElsewhere) {
        std::fputs("Ferrowick is already running.\n", stderr);
        return 0;
    }
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
