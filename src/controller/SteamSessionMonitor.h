#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "controller/FrontEnd.h"
#include "controller/LauncherActivity.h"
#include "controller/SteamSessionRules.h"
#include "platform/WeakSelf.h"

class ProcessLauncher;

// Runs the Steam session: the status poll, the main button, the start, the
// automatic restart of a hung launch and the reaction to Steam's exit. The
// decisions come from SteamSessionRules; this class only sequences probes,
// background waits and the front end's screens.
//
// Threading: every public operation is called on the main thread, and every
// field lives there. Probes and kills run on background work items that touch
// no field; their results come back through platform::MainQueue. At most one
// poll is probing at a time, and no poll starts while the main button's work
// (its probe, or a close's kill and pause) or an automatic restart is under way.
// A poll whose fields were changed by something else while it probed is
// dropped, as if it had not run; the next one comes five seconds later.
//
// While setup, the installer hand-off or repair runs (LauncherActivity), the
// session steps aside: the poll probes nothing, the main button does nothing,
// a pending automatic relaunch is called off, and the session's field changes
// still happen but show no screen, so none is painted over that activity's.
class SteamSessionMonitor {
public:
    struct Options {
        std::function<SteamSessionRules::Clock::time_point()> now = SteamSessionRules::Clock::now;
        // Blocking probes, run off the main thread.
        std::function<bool()> isWineRunning;           // empty: SteamSessionMonitor::isWineRunning
        std::function<bool()> isSteamReady;            // empty: ProcessLauncher::isSteamReady
        std::chrono::milliseconds restartPause{3000};  // between the kill and the relaunch
        std::chrono::milliseconds closePause{1000};    // after the kill of a close
        // Whether steam.exe is in the prefix; main thread. Empty: PrefixManager::steamInstalled of the launcher's
        // prefix.
        std::function<bool()> steamInstalled;
        // What else the launcher is doing; empty: nothing ever is.
        const LauncherActivity* activity = nullptr;
    };

    // `launcher` and `host` must outlive every background item the monitor
    // starts (the controller owns all three for the life of the program).
    SteamSessionMonitor(ProcessLauncher& launcher, FrontEnd& frontEnd);
    SteamSessionMonitor(ProcessLauncher& launcher, FrontEnd& frontEnd, Options options);
    ~SteamSessionMonitor();
    SteamSessionMonitor(const SteamSessionMonitor&) = delete;
    SteamSessionMonitor& operator=(const SteamSessionMonitor&) = delete;

    // One status poll; ignored while the previous one still probes.
    void updateSteamStatus();
    // Starts Steam when nothing of it runs, else closes it. Ignored while the
    // previous click's work is still under way.
    void onMainButton();
    void startSteam();
    void autoRestartSteam();
    // The exit notice of the launcher's own Steam process.
    void onSteamClosed();
    // The pipeline's end: Steam is installed, and was probed on its thread.
    void setupFinished(bool wineRunning, std::optional<bool> steamReady);
    // Blocks until everything Wine runs in the prefix has been ended.
    void applicationWillTerminate();

    // Our Wine server, or any steamwebhelper.exe process, is alive. Blocks
    // about a second; any thread.
    [[nodiscard]] static bool isWineRunning();

    [[nodiscard]] const SteamSessionRules::Fields& fields() const { return fields_; }
    // Whether a poll or a click's work is still in progress (for tests).
    [[nodiscard]] bool isBusy() const {
        return tickInFlight_ || buttonInFlight_ || restartInFlight_ || fields_.isAutoRestarting;
    }

private:
    void apply(SteamSessionRules::Step step);
    void perform(const SteamSessionRules::Action& action);
    void finishTick(uint64_t epoch, uint64_t generation, bool wineRunning, std::optional<bool> steamReady);
    void beginClose();
    void relaunchAfterKill();
    [[nodiscard]] bool stepAside() const { return options_.activity && options_.activity->busy(); }
    [[nodiscard]] uint64_t activityGeneration() const {
        return options_.activity ? options_.activity->generation() : 0;
    }
    // Runs `work` on a background item, then `then` on the main thread if the
    // monitor still exists.
    void inBackground(std::function<void()> work, std::function<void()> then);
    void killThenPause(std::chrono::milliseconds pause, std::function<void()> then);

    ProcessLauncher& launcher_;
    FrontEnd& frontEnd_;
    Options options_;
    SteamSessionRules::Fields fields_;
    uint64_t epoch_ = 0;  // raised by every change of the fields
    bool tickInFlight_ = false;
    bool buttonInFlight_ = false;
    bool restartInFlight_ = false;                  // a restart's kill and pause are running
    platform::WeakSelf<SteamSessionMonitor> self_;  // background items hold it weakly
};
