#include <QPointer>

#include "app/AppDelegate.h"

// The Steam session: the main button, the status poll and the exit notice.
// SteamSessionMonitor decides and runs the probes and kills off the main
// thread; the controller only passes its events on.

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

void AppDelegate::onSteamClosed() {
    steamSession_->onSteamClosed();
}

void AppDelegate::replaceSteamSession(SteamSessionMonitor::Options options) {
    options.activity = &activity_;
    steamSession_ = std::make_unique<SteamSessionMonitor>(processLauncher, *this, std::move(options));
}
