#pragma once

#include <string>

#include "controller/SteamSessionMonitor.h"

class AppDelegate;

// The controller as the Steam session sees it: its state checks and screens.
// Called on the main thread; the screens post to the window as always.
class AppSteamHost : public SteamSessionMonitor::Host {
public:
    explicit AppSteamHost(AppDelegate& app) : app_(app) {}

    bool eulaAccepted() override;
    bool steamInstalled() override;
    void showSteamReady() override;
    void showSteamLaunching() override;
    void showSteamRunning() override;
    void showSteamLaunchFailed() override;
    void showStep1() override;
    void showLoading(const std::string& status) override;
    void showError(const std::string& message) override;

private:
    AppDelegate& app_;
};
