#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "controller/SteamSessionMonitor.h"

namespace testsupport {

// The controller's side of the Steam session, agreement accepted and Steam installed: records every
// screen asked for ("ready", "launching", "running", "launchFailed", "step1", "loading:TEXT", "error:TEXT").
class RecordingSteamHost : public SteamSessionMonitor::Host {
public:
    std::vector<std::string> screens;
    std::vector<std::chrono::steady_clock::time_point> shownAt;  // when each screen was asked for

    bool eulaAccepted() override { return true; }
    bool steamInstalled() override { return true; }
    void showSteamReady() override { add("ready"); }
    void showSteamLaunching() override { add("launching"); }
    void showSteamRunning() override { add("running"); }
    void showSteamLaunchFailed() override { add("launchFailed"); }
    void showStep1() override { add("step1"); }
    void showLoading(const std::string& status) override { add("loading:" + status); }
    void showError(const std::string& message) override { add("error:" + message); }

private:
    void add(const std::string& screen) {
        screens.push_back(screen), shownAt.push_back(std::chrono::steady_clock::now());
    }
};

}  // namespace testsupport
