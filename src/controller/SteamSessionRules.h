#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "controller/SteamPhase.h"

// The Steam session's decisions, free of threads, processes and widgets: each
// function takes the session fields and what was observed, and returns the new
// fields plus the effects to carry out, in order. The caller applies the
// fields first and then performs the effects on the main thread.
namespace SteamSessionRules {

// Monotonic, so a change of the wall clock never fakes or hides a hang.
using Clock = std::chrono::steady_clock;

struct Fields {
    SteamPhase steamPhase = SteamPhase::ready;
    std::optional<Clock::time_point> steamLaunchStartedAt;  // the hang timeout counts from here
    int64_t steamReadyStableCount = 0;                      // consecutive ready polls while launching
    int64_t steamAutoRestartAttempts = 0;                   // automatic restarts for the launch being watched
    bool isAutoRestarting = false;                          // between a restart's kill and its relaunch
    bool isClosing = false;                                 // between a close's kill and its ready screen

    bool operator==(const Fields&) const = default;
};

enum class Effect {
    logInfo,  // text: the line
    showSteamReady,
    showSteamLaunching,
    showSteamRunning,
    showSteamLaunchFailed,
    showStep1,
    showLoading,       // text: the status line
    showError,         // text: the message
    autoRestartSteam,  // begin the automatic restart (restartBegins)
    steamClosed,       // run the exit handling (steamExited)
    killForRestart,    // background: kill everything, pause, then restartRelaunch
    killForClose,      // background: kill everything, pause, then closeFinished
};

struct Action {
    Effect effect;
    std::string text;
    bool operator==(const Action&) const = default;
};

// Whether an effect paints a screen (held back while another activity owns the window).
[[nodiscard]] bool isScreen(Effect effect);

struct Step {
    Fields fields;
    std::vector<Action> actions;
};

// Whether a tick may probe at all.
[[nodiscard]] bool tickAllowed(const Fields& fields, bool eulaAccepted, bool steamInstalled);
// Whether the tick, having probed Wine, must also probe readiness in this phase.
[[nodiscard]] bool needsReadinessProbe(SteamPhase phase, bool wineRunning);
// One status poll. `wineRunning` was probed before the phase was looked at;
// `steamReady` is the readiness probe, present whenever needsReadinessProbe
// asked for it (absent counts as not ready).
[[nodiscard]] Step tick(const Fields& fields, bool wineRunning, std::optional<bool> steamReady, Clock::time_point now);

// The main button starts Steam only when nothing of Steam or Wine is alive.
[[nodiscard]] bool mainButtonStarts(bool launcherProcessRunning, bool wineRunning);
// After the main button's launch attempt.
[[nodiscard]] Step launchAttempted(const Fields& fields, bool launched, Clock::time_point now);
// The main button closes Steam: fields reset, then the kill runs.
[[nodiscard]] Step closeRequested(const Fields& fields);
// The close's kill and pause are over.
[[nodiscard]] Step closeFinished(const Fields& fields);
// A hung launch is being restarted: tick suppression on, the kill starts.
[[nodiscard]] Step restartBegins(const Fields& fields);
// Whether the restart's kill and pause ended with its relaunch still wanted:
// a close in between calls it off.
[[nodiscard]] bool relaunchDue(const Fields& fields);
// The restart ends without a relaunch.
[[nodiscard]] Step restartCalledOff(const Fields& fields);
// After the restart's relaunch attempt.
[[nodiscard]] Step restartRelaunched(const Fields& fields, bool launched, Clock::time_point now);
// The launcher's own Steam process ended (or a tick found Steam gone).
[[nodiscard]] Step steamExited(const Fields& fields, bool steamInstalled);
// The end of the setup pipeline found Steam installed and probed it the way a
// tick does (readiness only when Wine runs).
[[nodiscard]] Step setupFinished(const Fields& fields, bool wineRunning, std::optional<bool> steamReady,
                                 Clock::time_point now);

// Texts of the session, shown or logged verbatim.
inline constexpr char kLaunchingLog[] = "Launching Steam";
inline constexpr char kLaunchFailedError[] = "Failed to launch Steam.";
inline constexpr char kUserCloseLog[] = "User clicked Close Steam";
inline constexpr char kRestartingStatus[] = "Restarting Steam...";
inline constexpr char kClosedLog[] = "Steam closed";
[[nodiscard]] std::string stuckLogLine(int64_t attempt);

}  // namespace SteamSessionRules
