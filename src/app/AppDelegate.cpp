#include "app/AppDelegate.h"

#include <QApplication>

#include "app/LauncherWindow.h"
#include "platform/MainQueue.h"

// Taking the shared logger first is what empties and opens the launcher log.
AppDelegate::AppDelegate() : log(Logger::shared()) {}

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
    // The Steam exit notice (processLauncher.onExit -> onSteamClosed on the
    // main queue) is installed here once the process launcher is wired.
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

void AppDelegate::updateSteamStatus() {
    // Nothing is probed before the agreement, before Steam is installed, or
    // between an automatic restart's kill and its relaunch.
    if (!eulaAccepted() || !prefixManager.steamInstalled() || isAutoRestarting) return;
}

void AppDelegate::validateAndPrepare() {
    showLoading("Checking system...");
}

void AppDelegate::ui(std::function<void()> block) {
    platform::MainQueue::post(std::move(block));
}
