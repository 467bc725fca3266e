#include "app/AppSteamHost.h"

#include "app/AppDelegate.h"

bool AppSteamHost::eulaAccepted() {
    return app_.eulaAccepted();
}
bool AppSteamHost::steamInstalled() {
    return app_.prefixManager.steamInstalled();
}
void AppSteamHost::showSteamReady() {
    app_.showSteamReady();
}
void AppSteamHost::showSteamLaunching() {
    app_.showSteamLaunching();
}
void AppSteamHost::showSteamRunning() {
    app_.showSteamRunning();
}
void AppSteamHost::showSteamLaunchFailed() {
    app_.showSteamLaunchFailed();
}
void AppSteamHost::showStep1() {
    app_.showStep1();
}
void AppSteamHost::showLoading(const std::string& status) {
    app_.showLoading(status);
}
void AppSteamHost::showError(const std::string& message) {
    app_.showError(message);
}
