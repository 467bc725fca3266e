#include "app/AppDelegate.h"

// Operations that act on the prefix and on Steam's processes. They need the
// prefix manager and the process launcher; until those are wired they only
// record what the user did.

void AppDelegate::applicationWillTerminate() {}

void AppDelegate::onMainButton() {}

void AppDelegate::onSteamClosed() {}

void AppDelegate::handleDroppedInstaller(const std::string& path) {
    log.info("User dropped installer: " + path);
}

void AppDelegate::onRepair() {}
