#pragma once

#include <string>
#include <vector>

#include "process/SteamSessionMonitor.h"

namespace testsupport {

// The controller's side of the Steam session, for tests: records every screen
// it is asked for ("ready", "launching", "running", "launchFailed", "step1",
// "loading:TEXT", "error:TEXT") and answers the state checks from its fields.
class RecordingSteamHost : public SteamSessionMonitor::Host {
public:
    bool eula = true;
    bool installed = true;
    std::vector<std::string> screens;

    bool eulaAccepted() override { return eula; }
    bool steamInstalled() override { return installed; }
    void showSteamReady() override { screens.push_back("ready"); }
    void showSteamLaunching() override { screens.push_back("launching"); }
    void showSteamRunning() override { screens.push_back("running"); }
    void showSteamLaunchFailed() override { screens.push_back("launchFailed"); }
    void showStep1() override { screens.push_back("step1"); }
    void showLoading(const std::string& status) override { screens.push_back("loading:" + status); }
    void showError(const std::string& message) override { screens.push_back("error:" + message); }
};

// Pids of this user's live processes whose command line (arguments joined by
// blanks) contains `text`, this test process excluded.
std::vector<int> processesMatching(const std::string& text);

}  // namespace testsupport
