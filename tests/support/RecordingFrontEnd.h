#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "controller/FrontEnd.h"

namespace testsupport {

// The window as the controller sees it, agreement accepted: records every screen asked for, from any thread
// ("ready", "launching", "running", "launchFailed", "step1", "loading:TEXT", "error:TEXT", "status:TEXT",
// "download", "progress:TEXT").
class RecordingFrontEnd : public FrontEnd {
public:
    std::vector<std::string> screens;

    void showSteamReady() override { add("ready"); }
    void showSteamLaunching() override { add("launching"); }
    void showSteamRunning() override { add("running"); }
    void showSteamLaunchFailed() override { add("launchFailed"); }
    void showStep1() override { add("step1"); }
    void showLoading(const std::string& status) override { add("loading:" + status); }
    void showError(const std::string& message) override { add("error:" + message); }
    void setStatusText(const std::string& text) override { add("status:" + text); }
    void showDownload() override { add("download"); }
    void showDownloadProgress(double, const std::string& status) override { add("progress:" + status); }
    bool eulaAccepted() const override { return true; }

    // The screens so far, joined by "|", each followed by one.
    std::string joined() {
        std::lock_guard lock(mutex_);
        std::string all;
        for (const auto& screen : screens) all += screen + "|";
        return all;
    }

private:
    void add(std::string screen) {
        std::lock_guard lock(mutex_);
        screens.push_back(std::move(screen));
    }
    std::mutex mutex_;
};

}  // namespace testsupport
