#include "app/AppDelegate.h"

#include <QApplication>

#include "app/AppSetupServices.h"
#include "app/AppSteamHost.h"
#include "app/LauncherWindow.h"
#include "platform/MainQueue.h"
#include "controller/SetupPipeline.h"

// Taking the shared logger first is what empties and opens the launcher log.
AppDelegate::AppDelegate()
    : log(Logger::shared()),
      steamHost_(std::make_unique<AppSteamHost>(*this)),
      steamSession_(std::make_unique<SteamSessionMonitor>(processLauncher, *steamHost_)) {
    createSetupPipeline();
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::installAsApplicationDelegate() {
    QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
}

void AppDelegate::applicationDidFinishLaunching() {
    log.info("=== Ferrowick starting ===");
    log.logSystemInfo();
    setupMenuBar();
    setupWindow();
    installSteamExitNotice();
    if (eulaAccepted()) {
        validateAndPrepare();
    } else {
        showEula();
    }
    // Runs until the process ends; the connection dies with the controller.
    statusTimer = std::make_unique<QTimer>();
    statusTimer->setInterval(statusIntervalMs);
    connect(statusTimer.get(), &QTimer::timeout, this, &AppDelegate::updateSteamStatus);
    statusTimer->start();
}

void AppDelegate::ui(std::function<void()> block) {
    platform::MainQueue::post(std::move(block));
}
