#include <gtest/gtest.h>

#include <optional>

#include "controller/SteamSessionRules.h"

using namespace SteamSessionRules;
using namespace std::chrono_literals;

namespace {

const Clock::time_point t0 = Clock::time_point{} + 1000h;
constexpr auto kReady = SteamPhase::ready, kLaunching = SteamPhase::launching, kRunning = SteamPhase::running,
               kFailed = SteamPhase::launchFailed;
constexpr int kNoStart = -1;
constexpr std::nullopt_t N = std::nullopt;

// Session fields; `startedAt` is seconds after t0, or kNoStart.
Fields at(SteamPhase phase, int startedAt = kNoStart, int64_t stable = 0, int64_t attempts = 0) {
    Fields f;
    f.steamPhase = phase;
    if (startedAt != kNoStart) f.steamLaunchStartedAt = t0 + std::chrono::seconds(startedAt);
    f.steamReadyStableCount = stable;
    f.steamAutoRestartAttempts = attempts;
    return f;
}

const auto act = [](Effect e, std::string text = {}) { return Action{e, std::move(text)}; };

using Actions = std::vector<Action>;

}  // namespace

TEST(SteamSessionRulesTest, TickFollowsEveryRowOfTheTransitionTable) {
    struct Case {
        const char* name;
        Fields before;
        bool wine;
        std::optional<bool> ready;
        Clock::duration now;  // after t0
        Fields after;
        Actions actions;
    };
    const Action running = act(Effect::showSteamRunning), ready = act(Effect::showSteamReady);
    // clang-format off
    const std::vector<Case> cases = {
        {"ready, nothing alive", at(kReady), false, N, 5s, at(kReady), {}},
        {"ready, found ready", at(kReady), true, true, 5s, at(kRunning), {running}},
        {"ready, found launching: stale counts reset", at(kReady, kNoStart, 1, 1), true, false, 7s, at(kLaunching, 7),
         {act(Effect::showSteamLaunching)}},
        {"launching, first ready poll", at(kLaunching, 0), true, true, 5s, at(kLaunching, 0, 1), {}},
        {"launching, second ready poll", at(kLaunching, 0, 1), true, true, 10s, at(kRunning, 0), {running}},
        {"launching, not-ready poll resets", at(kLaunching, 0, 1), true, false, 10s, at(kLaunching, 0), {}},
        {"launching, Wine gone", at(kLaunching, 0), false, false, 10s, at(kReady, 0), {ready}},
        {"launching, 2nd ready, Wine gone", at(kLaunching, 0, 1), false, true, 10s, at(kReady, 0), {running, ready}},
        {"launching, 1st ready, Wine gone", at(kLaunching, 0), false, true, 10s, at(kReady, 0, 1), {ready}},
        {"launching, exactly at the timeout", at(kLaunching, 0), true, false, 105s, at(kLaunching, 0), {}},
        {"launching, past the timeout", at(kLaunching, 0), true, false, 105s + 1ms, at(kLaunching, 0, 0, 1),
         {act(Effect::logInfo, "Steam stuck on launch, auto-restarting (attempt 1)"), act(Effect::autoRestartSteam)}},
        {"launching, timeout after the restart", at(kLaunching, 0, 0, 1), true, false, 200s, at(kFailed, 0, 0, 1),
         {act(Effect::showSteamLaunchFailed)}},
        {"launching, timeout but Wine gone", at(kLaunching, 0), false, false, 200s, at(kReady, 0), {ready}},
        {"launching without a start time", at(kLaunching), true, false, 500s, at(kLaunching), {}},
        {"running, gone", at(kRunning), false, N, 5s, at(kReady), {act(Effect::steamClosed)}},
        {"failed, gone", at(kFailed), false, N, 5s, at(kReady), {ready}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Step step = tick(c.before, c.wine, c.ready, t0 + c.now);
        EXPECT_EQ(step.fields, c.after);
        EXPECT_EQ(step.actions, c.actions);
    }
}

TEST(SteamSessionRulesTest, PollsAndTheButtonAreGated) {
    EXPECT_TRUE(tickAllowed(Fields{}, true, true) && !tickAllowed(Fields{}, false, true) &&
                !tickAllowed(Fields{}, true, false));
    EXPECT_FALSE(tickAllowed(restartBegins(at(kLaunching, 0)).fields, true, true)) << "no poll during a restart";
    // Steam running, or a helper (e.g. of another installation) alive: the button does not start it.
    EXPECT_TRUE(mainButtonStarts(false, false) && !mainButtonStarts(true, false) && !mainButtonStarts(false, true));
}

// The restart and the close run whole against the fixture; these are what it does not reach.
TEST(SteamSessionRulesTest, AFailedStartKeepsTheFieldsACloseAndTheSetupOutcomeResetThem) {
    const Fields failedRun = at(kFailed, 0, 1, 1);
    const Step refused = launchAttempted(failedRun, false, t0 + 1s);
    EXPECT_EQ(refused.fields, failedRun);
    EXPECT_EQ(refused.actions, Actions{act(Effect::showError, "Failed to launch Steam.")});
    EXPECT_EQ(launchAttempted(failedRun, true, t0 + 1s).fields, at(kLaunching, 1));
    const Step close = closeRequested(failedRun);
    Fields closing = at(kReady, kNoStart, 1);
    closing.isClosing = true;
    EXPECT_EQ(close.fields, closing);
    EXPECT_EQ(close.actions, (Actions{act(Effect::logInfo, "User clicked Close Steam"), act(Effect::killForClose)}));
    // The killed Steam's exit notice only logs; the ready screen waits for the close's end.
    EXPECT_EQ(steamExited(closing, true).actions, Actions{act(Effect::logInfo, "Steam closed")});
    EXPECT_EQ(closeFinished(closing).fields, at(kReady, kNoStart, 1));
    EXPECT_FALSE(relaunchDue(closeRequested(restartBegins(failedRun).fields).fields)) << "a close calls a relaunch off";
    EXPECT_EQ(restartRelaunched(restartBegins(failedRun).fields, false, t0).fields, failedRun);
    // A launch found under way at the end of setup is timed from now, with fresh counts.
    EXPECT_EQ(setupFinished(failedRun, true, false, t0 + 1s).fields, at(kLaunching, 1));
    EXPECT_EQ(setupFinished(failedRun, true, true, t0 + 1s).actions, Actions{act(Effect::showSteamRunning)});
    // Steam gone with its installation: back to step 1.
    EXPECT_EQ(steamExited(at(kRunning), false).actions,
              (Actions{act(Effect::logInfo, "Steam closed"), act(Effect::showStep1)}));
}
