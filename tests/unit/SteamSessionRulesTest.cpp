#include <gtest/gtest.h>

#include "controller/SteamSessionRules.h"

using namespace SteamSessionRules;
using namespace std::chrono_literals;

namespace {

const Clock::time_point t0 = Clock::time_point{} + 1000h;
constexpr auto kReady = SteamPhase::ready, kLaunching = SteamPhase::launching, kRunning = SteamPhase::running,
               kFailed = SteamPhase::launchFailed;
constexpr int kNoStart = -1;
using Actions = std::vector<Action>;
const Action running{Effect::showSteamRunning, ""}, ready{Effect::showSteamReady, ""};

// Session fields; `startedAt` is seconds after t0, or kNoStart.
Fields at(SteamPhase phase, int startedAt = kNoStart, int64_t stable = 0, int64_t attempts = 0) {
    Fields f{phase, std::nullopt, stable, attempts};
    if (startedAt != kNoStart) f.steamLaunchStartedAt = t0 + std::chrono::seconds(startedAt);
    return f;
}

}  // namespace

// The decisions the journeys cannot pin down: two ready polls in a row, the timeout's edge, one restart per launch.
TEST(SteamSessionRulesTest, TickFollowsEveryRowOfTheTransitionTable) {
    // before, Wine running, ready, now (after t0), after, actions
    // clang-format off
    const std::tuple<Fields, bool, std::optional<bool>, Clock::duration, Fields, Actions> cases[] = {
        {at(kReady), true, true, 5s, at(kRunning), {running}},
        {at(kReady, kNoStart, 1, 1), true, false, 7s, at(kLaunching, 7), {{Effect::showSteamLaunching, ""}}},
        {at(kLaunching, 0), true, true, 5s, at(kLaunching, 0, 1), {}},
        {at(kLaunching, 0, 1), true, true, 10s, at(kRunning, 0), {running}},
        {at(kLaunching, 0, 1), true, false, 10s, at(kLaunching, 0), {}},
        {at(kLaunching, 0), false, false, 10s, at(kReady, 0), {ready}},
        {at(kLaunching, 0, 1), false, true, 10s, at(kReady, 0), {running, ready}},
        {at(kLaunching, 0), true, false, 105s, at(kLaunching, 0), {}},
        {at(kLaunching, 0), true, false, 105s + 1ms, at(kLaunching, 0, 0, 1),
         {{Effect::logInfo, "Steam stuck on launch, auto-restarting (attempt 1)"}, {Effect::autoRestartSteam, ""}}},
        {at(kLaunching, 0, 0, 1), true, false, 200s, at(kFailed, 0, 0, 1), {{Effect::showSteamLaunchFailed, ""}}},
        {at(kRunning), false, std::nullopt, 5s, at(kReady), {{Effect::steamClosed, ""}}},
        {at(kFailed), false, std::nullopt, 5s, at(kReady), {ready}},
    };
    // clang-format on
    int row = 0;
    for (const auto& [before, wine, isReady, now, after, actions] : cases) {
        const Step step = tick(before, wine, isReady, t0 + now);
        EXPECT_EQ(step.fields, after) << "row " << row;
        EXPECT_EQ(step.actions, actions) << "row " << row++;
    }
}

// (A close, also during a restart, runs whole in the session's and the window's tests.)
TEST(SteamSessionRulesTest, ButtonAndSessionEvents) {
    EXPECT_TRUE(tickAllowed(Fields{}, true, true) && !tickAllowed(Fields{}, false, true) &&
                !tickAllowed(Fields{}, true, false));
    EXPECT_FALSE(tickAllowed(restartBegins(at(kLaunching, 0)).fields, true, true)) << "no poll during a restart";
    EXPECT_TRUE(mainButtonStarts(false, false) && !mainButtonStarts(true, false) && !mainButtonStarts(false, true));
    // A refused start keeps the fields; a launch and the end of setup start afresh.
    const Fields failedRun = at(kFailed, 0, 1, 1);
    const Step refused = launchAttempted(failedRun, false, t0 + 1s);
    EXPECT_EQ(refused.fields, failedRun);
    EXPECT_EQ(refused.actions, (Actions{{Effect::showError, "Failed to launch Steam."}}));
    EXPECT_EQ(launchAttempted(failedRun, true, t0 + 1s).fields, at(kLaunching, 1));
    EXPECT_EQ(restartRelaunched(restartBegins(failedRun).fields, false, t0).fields, failedRun);
    EXPECT_EQ(setupFinished(failedRun, true, false, t0 + 1s).fields, at(kLaunching, 1));
    EXPECT_EQ(setupFinished(failedRun, true, true, t0 + 1s).actions, Actions{running});
    // Steam gone with its installation: back to step 1.
    EXPECT_EQ(steamExited(at(kRunning), false).actions,
              (Actions{{Effect::logInfo, "Steam closed"}, {Effect::showStep1, ""}}));
}
