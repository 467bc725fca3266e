#pragma once

#include <string>
#include <vector>

#include "controller/SteamSessionMonitor.h"

namespace testsupport {

// The controller's side of the Steam session, agreement accepted and Steam installed: records every screen asked
// for ("ready", "launching", "running", "launchFailed", "step1", "loading:TEXT", "error:TEXT").
class RecordingSteamHost : public SteamSessionMonitor::Host {
public:
    std::vector<std::string> screens;

    bool eulaAccepted() override { return true; }
    bool steamInstalled() override { return true; }
    void showSteamReady() override { screens.push_back("ready"); }
    void showSteamLaunching() override { screens.push_back("launching"); }
    void showSteamRunning() override { screens.push_back("running"); }
    void showSteamLaunchFailed() override { screens.push_back("launchFailed"); }
    void showStep1() override { screens.push_back("step1"); }
    void showLoading(const std::string& status) override { screens.push_back("loading:" + status); }
    void showError(const std::string& message) override { screens.push_back("error:" + message); }
};

}  // namespace testsupport
