#include <QPointer>

#include "app/AppDelegate.h"

// The Steam session: the main button, the status poll, the exit notice and
// the way out. SteamSessionMonitor decides and runs the probes and kills off
// the main thread; the controller only forwards its events.

void AppDelegate::installSteamExitNotice() {
    processLauncher.setOnExit([self = QPointer<AppDelegate>(this)](int32_t) {
        if (self) self->onSteamClosed();
    });
}

void AppDelegate::updateSteamStatus() {
    steamSession_->updateSteamStatus();
}

void AppDelegate::onMainButton() {
    steamSession_->onMainButton();
}

void AppDelegate::startSteam() {
    steamSession_->startSteam();
}

void AppDelegate::autoRestartSteam() {
    steamSession_->autoRestartSteam();
}

void AppDelegate::onSteamClosed() {
    steamSession_->onSteamClosed();
}

bool AppDelegate::isWineRunning() {
    return SteamSessionMonitor::isWineRunning();
}

// Waits for the clean-up, so that no Wine server of the prefix and no web
// helper outlives the launcher.
void AppDelegate::applicationWillTerminate() {
    steamSession_->applicationWillTerminate();
}
