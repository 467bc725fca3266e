#include "app/AppDelegate.h"

#include <QApplication>

#include "app/AppServices.h"
#include "app/LauncherWindow.h"
#include "controller/SetupPipeline.h"
#include "platform/MainQueue.h"

// Taking the shared logger first is what empties and opens the launcher log.
AppDelegate::AppDelegate()
    : log(Logger::shared()),
      services_(std::make_unique<AppServices>(*this)),
      steamSession_(std::make_unique<SteamSessionMonitor>(processLauncher, *services_, [this] {
          SteamSessionMonitor::Options options;
          options.activity = &activity_;
          return options;
      }())) {
    createSetupPipeline();
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::replaceSteamSession(SteamSessionMonitor::Options options) {
    options.activity = &activity_;
    steamSession_ = std::make_unique<SteamSessionMonitor>(processLauncher, *services_, std::move(options));
}

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
