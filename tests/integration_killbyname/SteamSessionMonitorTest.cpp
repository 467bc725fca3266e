#include <gtest/gtest.h>

#include <future>

#include "controller/SteamSessionMonitor.h"
#include "logging/Logger.h"
#include "platform/MainQueue.h"
#include "platform/Subprocess.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/GoldenLog.h"
#include "support/RecordingSteamHost.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

using namespace std::chrono_literals;
using Screens = std::vector<std::string>;

namespace {

// The session over the real launcher and kills, Steam installed, its clock `skipped` ahead. handProbe() makes the
// Wine probe wait for the test's answers (the first call's, then one for all later calls), so it can act meanwhile.
struct Session {
    explicit Session(const std::function<void(Session&)>& adjust = {}) {
        testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
        queue.install();
        options.activity = &activity;
        options.now = [this] { return SteamSessionRules::Clock::now() + skipped; };
        if (adjust) adjust(*this);
        monitor = std::make_unique<SteamSessionMonitor>(launcher, host, options);
        launcher.setOnExit([this](int32_t) { monitor->onSteamClosed(); });
    }
    ~Session() { platform::MainQueue::setPoster({}); }
    bool settled() {
        return queue.drainUntil([&] { return !monitor->isBusy(); }, 120s);
    }
    void handProbe() {
        options.isWineRunning = [this] { return answers[std::min(probes++, 1)].get(); };
        options.isSteamReady = [this] { return ++readyProbes, true; };
    }
    bool probing(int n) {
        for (int i = 0; i < 2000 && probes < n; ++i) std::this_thread::sleep_for(10ms);
        return probes == n;
    }

    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    ProcessLauncher launcher;
    LauncherActivity activity;
    testsupport::RecordingSteamHost host;
    SteamSessionMonitor::Options options;
    SteamSessionRules::Clock::duration skipped{};
    std::promise<bool> answer[2];
    std::shared_future<bool> answers[2] = {answer[0].get_future().share(), answer[1].get_future().share()};
    std::atomic<int> probes{0}, readyProbes{0};
    std::unique_ptr<SteamSessionMonitor> monitor;
};

}  // namespace

// A client that never brings up its web helper, the clock moved past the hang timeout: restarted once after the
// kill (2 s for the server) and a 3 s pause, then failed; the button then closes Steam's Wine.
TEST(SteamSessionMonitorTest, AHungLaunchIsRestartedOnceThenFailsAndTheButtonClosesIt) {
    Session s;
    s.wine.set("steam.helper_delay", "never");
    auto tickOnceServerIsUp = [&] {
        for (int i = 0; i < 1000 && !s.wine.serverAlive(); ++i) std::this_thread::sleep_for(20ms);
        s.skipped += 106s;
        s.monitor->updateSteamStatus();
        return s.settled();
    };
    s.monitor->startSteam();
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(tickOnceServerIsUp());
    EXPECT_GE(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(s.host.screens, (Screens{"launching", "loading:Restarting Steam...", "launching"}));
    ASSERT_TRUE(tickOnceServerIsUp());
    EXPECT_EQ(s.wine.calls("wine").size(), 2u) << "restarted only once";
    s.monitor->onMainButton();
    EXPECT_TRUE(s.queue.drainUntil([&] { return !s.monitor->isBusy() && !s.launcher.hasGameProcess(); }, 60s));
    EXPECT_EQ(s.host.screens,
              (Screens{"launching", "loading:Restarting Steam...", "launching", "launchFailed", "ready"}));
    EXPECT_FALSE(s.wine.serverAlive());
    testsupport::expectGolden("logs/steam-hang-restart-failed.log",
                              testsupport::normaliseLog(testsupport::readFile(Logger::logPath()), "", true));
}

// A web helper of another Wine installation makes the button close (and kill it) instead of starting Steam, and no
// poll probes while the button's work is under way.
TEST(SteamSessionMonitorTest, AnyWebHelperMakesTheButtonCloseAndPollsWait) {
    Session s([](Session& s) {
        s.options.isWineRunning = [&s] { return ++s.probes, SteamSessionMonitor::isWineRunning(); };
    });
    auto helper = platform::Subprocess::start(
                      {testsupport::testProgram("argdump"), {"sleep", "120", "C:\\other\\steamwebhelper.exe"}, {}})
                      .process;
    for (int i = 0; i < 500 && !SteamSessionMonitor::isWineRunning(); ++i) std::this_thread::sleep_for(20ms);
    s.monitor->onMainButton();
    s.monitor->updateSteamStatus();
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(s.probes, 1);
    EXPECT_EQ(s.host.screens, Screens{"ready"});
    EXPECT_TRUE(s.wine.calls("wine").empty()) << "Steam was started";
    const auto status = helper->waitFor(10);
    EXPECT_TRUE(status && status->signaled) << "the helper was left alive";
}

// A hung launch's poll still probes when the user clicks Close Steam: the poll's restart starts its kill, the click
// closes, and nothing may relaunch Steam after that.
TEST(SteamSessionMonitorTest, ACloseDuringARestartsKillCallsTheRelaunchOff) {
    Session s([](Session& s) {
        s.handProbe();
        s.options.isSteamReady = [] { return false; };
        s.options.restartPause = s.options.closePause = 10ms;
    });
    s.monitor->setupFinished(true, false);  // launching, timed from now
    s.skipped += 106s;
    s.monitor->updateSteamStatus();
    ASSERT_TRUE(s.probing(1));
    s.monitor->onMainButton();
    ASSERT_TRUE(s.probing(2));
    s.answer[0].set_value(true);  // the poll's probe answers first
    ASSERT_TRUE(s.queue.drainUntil([&] { return s.host.screens.back() == "loading:Restarting Steam..."; }, 20s));
    s.answer[1].set_value(true);
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(s.host.screens, (Screens{"launching", "loading:Restarting Steam...", "ready"}));
    EXPECT_TRUE(s.wine.calls("wine").empty()) << "Steam relaunched after the close";
}

// While a poll probes: later polls are ignored; the exit notice makes its answer stale; setup starting drops its
// answer and keeps every later poll and click off. Found running before, what happens meanwhile, screens, readiness
// probes.
const std::tuple<bool, std::function<void(Session&)>, Screens, int> kLateAnswers[] = {
    {false, [](Session& s) { s.monitor->updateSteamStatus(), s.monitor->updateSteamStatus(); }, {"running"}, 1},
    {true, [](Session& s) { s.monitor->onSteamClosed(); }, {"running", "ready"}, 0},
    {false, [](Session& s) { EXPECT_TRUE(s.activity.tryEnter(LauncherActivity::Kind::settingUp)); }, {}, 0},
};
class LateAnswer : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(SteamSessionMonitorTest, LateAnswer, ::testing::Range(0, 3));

TEST_P(LateAnswer, StandsOnlyWhileNothingChanged) {
    const auto& [running, meanwhile, screens, readyProbes] = kLateAnswers[GetParam()];
    Session s([](Session& s) { s.handProbe(); });
    if (running) s.monitor->setupFinished(true, true);
    s.monitor->updateSteamStatus();
    ASSERT_TRUE(s.probing(1));
    meanwhile(s);
    s.answer[0].set_value(true);  // the server still lingered when it was probed
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(s.probes, 1);
    EXPECT_EQ(s.host.screens, screens);
    EXPECT_EQ(s.readyProbes, readyProbes);
    if (!s.activity.busy()) return;
    s.monitor->updateSteamStatus(), s.monitor->onMainButton();
    EXPECT_EQ(s.probes, 1);
    EXPECT_FALSE(s.monitor->isBusy());
}

// A client just launched has no server for the probe to find yet; its own process still counts as Wine running, so
// the launch being watched (and its restart count) is not dropped for "ready".
TEST(SteamSessionMonitorTest, OurRunningClientIsWineRunningBeforeItsServerIsUp) {
    Session s([](Session& s) { s.options.isWineRunning = [] { return false; }; });
    s.monitor->startSteam();
    s.monitor->updateSteamStatus();
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(s.host.screens, (Screens{"launching"}));
    s.launcher.killAll();
}
