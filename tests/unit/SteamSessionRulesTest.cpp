#include <gtest/gtest.h>

#include <optional>

#include "process/SteamSessionRules.h"

using namespace SteamSessionRules;
using namespace std::chrono_literals;

namespace {

const Clock::time_point t0 = Clock::time_point{} + 1000h;

Action act(Effect e, std::string text = {}) {
    return {e, std::move(text)};
}

Fields launchingSince(Clock::time_point start, int64_t stable = 0, int64_t attempts = 0) {
    Fields f;
    f.steamPhase = SteamPhase::launching;
    f.steamLaunchStartedAt = start;
    f.steamReadyStableCount = stable;
    f.steamAutoRestartAttempts = attempts;
    return f;
}

Fields inPhase(SteamPhase phase) {
    Fields f;
    f.steamPhase = phase;
    return f;
}

struct TickCase {
    const char* name;
    Fields before;
    bool wine;
    std::optional<bool> ready;
    Clock::duration sinceStart;  // the tick's time minus t0
    Fields after;
    std::vector<Action> actions;
};

Fields with(Fields f, SteamPhase phase) {
    f.steamPhase = phase;
    return f;
}
Fields withStable(Fields f, int64_t n) {
    f.steamReadyStableCount = n;
    return f;
}
Fields withAttempts(Fields f, int64_t n) {
    f.steamAutoRestartAttempts = n;
    return f;
}

}  // namespace

TEST(SteamSessionRulesTest, TickFollowsEveryRowOfTheTransitionTable) {
    const Fields staleReady = [] {
        Fields f = inPhase(SteamPhase::ready);
        f.steamReadyStableCount = 1;  // left over from a launch that went away
        f.steamAutoRestartAttempts = 1;
        return f;
    }();
    const std::vector<TickCase> cases = {
        {"ready, nothing alive", inPhase(SteamPhase::ready), false, std::nullopt, 5s, inPhase(SteamPhase::ready), {}},
        {"ready, found ready",
         inPhase(SteamPhase::ready),
         true,
         true,
         5s,
         inPhase(SteamPhase::running),
         {act(Effect::showSteamRunning)}},
        {"ready, found launching",
         staleReady,
         true,
         false,
         7s,
         launchingSince(t0 + 7s),
         {act(Effect::showSteamLaunching)}},
        {"launching, first ready poll", launchingSince(t0), true, true, 5s, launchingSince(t0, 1), {}},
        {"launching, second ready poll",
         launchingSince(t0, 1),
         true,
         true,
         10s,
         with(launchingSince(t0), SteamPhase::running),
         {act(Effect::showSteamRunning)}},
        {"launching, not-ready poll resets the count", launchingSince(t0, 1), true, false, 10s, launchingSince(t0), {}},
        {"launching, absent readiness counts as not ready",
         launchingSince(t0, 1),
         true,
         std::nullopt,
         10s,
         launchingSince(t0),
         {}},
        {"launching, Wine gone",
         launchingSince(t0),
         false,
         false,
         10s,
         with(launchingSince(t0), SteamPhase::ready),
         {act(Effect::showSteamReady)}},
        {"launching, second ready poll as Wine goes",
         launchingSince(t0, 1),
         false,
         true,
         10s,
         with(launchingSince(t0), SteamPhase::ready),
         {act(Effect::showSteamRunning), act(Effect::showSteamReady)}},
        {"launching, first ready poll as Wine goes",
         launchingSince(t0),
         false,
         true,
         10s,
         with(launchingSince(t0, 1), SteamPhase::ready),
         {act(Effect::showSteamReady)}},
        {"launching, exactly at the timeout", launchingSince(t0), true, false, 105s, launchingSince(t0), {}},
        {"launching, past the timeout",
         launchingSince(t0),
         true,
         false,
         105s + 1ms,
         launchingSince(t0, 0, 1),
         {act(Effect::logInfo, "Steam stuck on launch, auto-restarting (attempt 1)"), act(Effect::autoRestartSteam)}},
        {"launching, past the timeout after the restart",
         launchingSince(t0, 0, 1),
         true,
         false,
         200s,
         with(launchingSince(t0, 0, 1), SteamPhase::launchFailed),
         {act(Effect::showSteamLaunchFailed)}},
        {"launching, past the timeout but Wine gone",
         launchingSince(t0),
         false,
         false,
         200s,
         with(launchingSince(t0), SteamPhase::ready),
         {act(Effect::showSteamReady)}},
        {"launching without a start time",
         inPhase(SteamPhase::launching),
         true,
         false,
         500s,
         inPhase(SteamPhase::launching),
         {}},
        {"running, alive", inPhase(SteamPhase::running), true, std::nullopt, 5s, inPhase(SteamPhase::running), {}},
        {"running, gone",
         inPhase(SteamPhase::running),
         false,
         std::nullopt,
         5s,
         inPhase(SteamPhase::ready),
         {act(Effect::steamClosed)}},
        {"failed, alive",
         inPhase(SteamPhase::launchFailed),
         true,
         std::nullopt,
         5s,
         inPhase(SteamPhase::launchFailed),
         {}},
        {"failed, gone",
         inPhase(SteamPhase::launchFailed),
         false,
         std::nullopt,
         5s,
         inPhase(SteamPhase::ready),
         {act(Effect::showSteamReady)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Step step = tick(c.before, c.wine, c.ready, t0 + c.sinceStart);
        EXPECT_EQ(step.fields, c.after);
        EXPECT_EQ(step.actions, c.actions);
    }
}

TEST(SteamSessionRulesTest, ProbesAndPollsAreGatedByPhaseAndState) {
    struct Case {
        SteamPhase phase;
        bool wine;
        bool needsReady;
    };
    for (const Case& c : {Case{SteamPhase::ready, false, false}, Case{SteamPhase::ready, true, true},
                          Case{SteamPhase::launching, false, true}, Case{SteamPhase::launching, true, true},
                          Case{SteamPhase::running, false, false}, Case{SteamPhase::running, true, false},
                          Case{SteamPhase::launchFailed, false, false}, Case{SteamPhase::launchFailed, true, false}}) {
        EXPECT_EQ(needsReadinessProbe(c.phase, c.wine), c.needsReady)
            << static_cast<int>(c.phase) << " wine=" << c.wine;
    }

    Fields restarting;
    restarting.isAutoRestarting = true;
    struct Gate {
        Fields fields;
        bool eula, installed, allowed;
    };
    for (const Gate& g : {Gate{Fields{}, true, true, true}, Gate{Fields{}, false, true, false},
                          Gate{Fields{}, true, false, false}, Gate{restarting, true, true, false}}) {
        EXPECT_EQ(tickAllowed(g.fields, g.eula, g.installed), g.allowed)
            << "eula=" << g.eula << " installed=" << g.installed << " restarting=" << g.fields.isAutoRestarting;
    }

    EXPECT_TRUE(mainButtonStarts(false, false));
    EXPECT_FALSE(mainButtonStarts(true, false));
    EXPECT_FALSE(mainButtonStarts(false, true));  // e.g. a helper of another installation
}

TEST(SteamSessionRulesTest, TwoConsecutiveReadyPollsAreNeededToRun) {
    Step s = launchAttempted(Fields{}, true, t0);
    ASSERT_EQ(s.fields.steamPhase, SteamPhase::launching);
    const std::vector<std::pair<bool, SteamPhase>> polls = {{true, SteamPhase::launching},
                                                            {false, SteamPhase::launching},
                                                            {true, SteamPhase::launching},
                                                            {true, SteamPhase::running}};
    int n = 0;
    for (const auto& [ready, expected] : polls) {
        s = tick(s.fields, true, ready, t0 + 5s * ++n);
        EXPECT_EQ(s.fields.steamPhase, expected) << "poll " << n;
    }
    EXPECT_EQ(s.actions, std::vector<Action>{act(Effect::showSteamRunning)});
}

TEST(SteamSessionRulesTest, AReadyPollOfAVanishedLaunchDoesNotCountForTheNextOne) {
    Step s = launchAttempted(Fields{}, true, t0);
    s = tick(s.fields, true, true, t0 + 5s);     // one ready poll
    s = tick(s.fields, false, false, t0 + 10s);  // Steam went away
    ASSERT_EQ(s.fields.steamPhase, SteamPhase::ready);
    s = tick(s.fields, true, false, t0 + 15s);  // started again outside the launcher
    ASSERT_EQ(s.fields.steamPhase, SteamPhase::launching);
    s = tick(s.fields, true, true, t0 + 20s);
    EXPECT_EQ(s.fields.steamPhase, SteamPhase::launching);
    s = tick(s.fields, true, true, t0 + 25s);
    EXPECT_EQ(s.fields.steamPhase, SteamPhase::running);
}

TEST(SteamSessionRulesTest, AHungLaunchIsRestartedOnceThenFails) {
    Step s = launchAttempted(Fields{}, true, t0);
    s = tick(s.fields, true, false, t0 + 106s);
    ASSERT_EQ(s.actions.back(), act(Effect::autoRestartSteam));

    s = restartBegins(s.fields);
    EXPECT_TRUE(s.fields.isAutoRestarting);
    EXPECT_EQ(s.actions,
              (std::vector<Action>{act(Effect::showLoading, "Restarting Steam..."), act(Effect::killForRestart)}));
    EXPECT_FALSE(tickAllowed(s.fields, true, true));

    // The kill ends the launcher's own process: only the log line.
    Step exited = steamExited(s.fields, true);
    EXPECT_EQ(exited.fields, s.fields);
    EXPECT_EQ(exited.actions, std::vector<Action>{act(Effect::logInfo, "Steam closed")});

    const Clock::time_point t1 = t0 + 112s;
    s = restartRelaunched(exited.fields, true, t1);
    EXPECT_EQ(s.fields, launchingSince(t1, 0, 1));
    EXPECT_EQ(s.actions, std::vector<Action>{act(Effect::showSteamLaunching)});

    s = tick(s.fields, true, false, t1 + 100s);
    EXPECT_EQ(s.fields.steamPhase, SteamPhase::launching);
    s = tick(s.fields, true, false, t1 + 106s);
    EXPECT_EQ(s.fields.steamPhase, SteamPhase::launchFailed);
    EXPECT_EQ(s.actions, std::vector<Action>{act(Effect::showSteamLaunchFailed)});

    Step failed = restartRelaunched(restartBegins(launchingSince(t0, 0, 1)).fields, false, t1);
    EXPECT_EQ(failed.fields, with(launchingSince(t0, 0, 1), SteamPhase::launchFailed));
    EXPECT_EQ(failed.actions, std::vector<Action>{act(Effect::showSteamLaunchFailed)});
}

TEST(SteamSessionRulesTest, ButtonStartAndCloseResetTheSession) {
    Fields failedRun = withAttempts(withStable(launchingSince(t0), 1), 1);
    failedRun.steamPhase = SteamPhase::launchFailed;

    Step refused = launchAttempted(failedRun, false, t0 + 1s);
    EXPECT_EQ(refused.fields, failedRun);
    EXPECT_EQ(refused.actions, std::vector<Action>{act(Effect::showError, "Failed to launch Steam.")});

    Step started = launchAttempted(failedRun, true, t0 + 1s);
    EXPECT_EQ(started.fields, launchingSince(t0 + 1s));
    EXPECT_EQ(started.actions, std::vector<Action>{act(Effect::showSteamLaunching)});

    Step close = closeRequested(failedRun);
    EXPECT_EQ(close.fields.steamPhase, SteamPhase::ready);
    EXPECT_FALSE(close.fields.steamLaunchStartedAt.has_value());
    EXPECT_EQ(close.fields.steamAutoRestartAttempts, 0);
    EXPECT_FALSE(close.fields.isAutoRestarting);
    EXPECT_EQ(close.actions,
              (std::vector<Action>{act(Effect::logInfo, "User clicked Close Steam"), act(Effect::killForClose)}));
    Step closed = closeFinished(close.fields);
    EXPECT_EQ(closed.fields, close.fields);
    EXPECT_EQ(closed.actions, std::vector<Action>{act(Effect::showSteamReady)});
}

TEST(SteamSessionRulesTest, ExitAndSetupOutcomesPickTheirScreens) {
    struct ExitCase {
        SteamPhase phase;
        bool installed;
        Effect screen;
    };
    for (const ExitCase& c : {ExitCase{SteamPhase::running, true, Effect::showSteamReady},
                              ExitCase{SteamPhase::launching, true, Effect::showSteamReady},
                              ExitCase{SteamPhase::launchFailed, false, Effect::showStep1}}) {
        Step s = steamExited(inPhase(c.phase), c.installed);
        EXPECT_EQ(s.fields.steamPhase, SteamPhase::ready);
        EXPECT_EQ(s.actions, (std::vector<Action>{act(Effect::logInfo, "Steam closed"), act(c.screen)}));
    }

    struct SetupCase {
        bool wine;
        std::optional<bool> ready;
        SteamPhase phase;
        Effect screen;
    };
    for (const SetupCase& c : {SetupCase{false, std::nullopt, SteamPhase::ready, Effect::showSteamReady},
                               SetupCase{true, true, SteamPhase::running, Effect::showSteamRunning},
                               SetupCase{true, false, SteamPhase::launching, Effect::showSteamLaunching}}) {
        Step s = setupFinished(withAttempts(inPhase(SteamPhase::launchFailed), 1), c.wine, c.ready, t0);
        EXPECT_EQ(s.fields.steamPhase, c.phase);
        EXPECT_EQ(s.actions, std::vector<Action>{act(c.screen)});
        if (c.phase == SteamPhase::launching) {
            EXPECT_EQ(s.fields, launchingSince(t0));
        }
    }
}
