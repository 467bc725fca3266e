#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

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

namespace {

// The session over the real launcher, probes and kills, Steam installed; `options` as the test sets them.
struct Session {
    explicit Session(std::function<void(SteamSessionMonitor::Options&)> adjust = {}) {
        testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
        queue.install();
        if (adjust) adjust(options);
        monitor = std::make_unique<SteamSessionMonitor>(launcher, host, options);
        launcher.setOnExit([this](int32_t) { monitor->onSteamClosed(); });
    }
    ~Session() { platform::MainQueue::setPoster({}); }
    bool settled() {
        return queue.drainUntil([&] { return !monitor->isBusy(); }, 120s);
    }

    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    ProcessLauncher launcher;
    testsupport::RecordingSteamHost host;
    SteamSessionMonitor::Options options;
    std::unique_ptr<SteamSessionMonitor> monitor;
};

}  // namespace

// A Steam client that never brings up its web helper, and a clock moved past the hang timeout.
TEST(SteamSessionMonitorTest, AHungLaunchIsRestartedOnceThenFailsAndTheButtonClosesIt) {
    SteamSessionRules::Clock::duration skipped{};
    Session s([&](auto& o) { o.now = [&] { return SteamSessionRules::Clock::now() + skipped; }; });
    s.wine.set("steam.helper_delay", "never");
    auto tickOnceServerIsUp = [&] {
        for (int i = 0; i < 1000 && !s.wine.serverAlive(); ++i) std::this_thread::sleep_for(20ms);
        skipped += 106s;
        s.monitor->updateSteamStatus();
        return s.settled();
    };

    s.monitor->startSteam();
    ASSERT_TRUE(tickOnceServerIsUp());  // stuck: kill (2 s for the server), a 3 s pause, relaunch
    EXPECT_EQ(s.host.screens, (std::vector<std::string>{"launching", "loading:Restarting Steam...", "launching"}));
    EXPECT_GE(s.host.shownAt.at(2) - s.host.shownAt.at(1), 5s);
    EXPECT_EQ(s.launcher.launchGeneration(), 2);
    ASSERT_TRUE(tickOnceServerIsUp());
    EXPECT_EQ(s.host.screens.back(), "launchFailed");
    EXPECT_EQ(s.wine.calls("wine").size(), 2u) << "restarted only once";

    s.monitor->onMainButton();  // Steam's Wine is still alive: the button closes it
    EXPECT_TRUE(s.queue.drainUntil([&] { return !s.monitor->isBusy() && !s.launcher.hasGameProcess(); }, 60s));
    EXPECT_EQ(s.host.screens.back(), "ready");
    EXPECT_FALSE(s.wine.serverAlive());
    testsupport::expectGolden("logs/steam-hang-restart-failed.log",
                              testsupport::normaliseLog(testsupport::readFile(Logger::logPath()), "", true));
}

// A web helper of another Wine installation makes the button close (and kill it) instead
// of starting Steam, and no poll probes while the button's work is under way.
TEST(SteamSessionMonitorTest, AnyWebHelperMakesTheButtonCloseAndPollsWait) {
    std::atomic<int> probes{0};
    Session s([&](auto& o) { o.isWineRunning = [&] { return ++probes, SteamSessionMonitor::isWineRunning(); }; });
    auto helper = platform::Subprocess::start(
                      {testsupport::testProgram("argdump"), {"sleep", "120", "C:\\other\\steamwebhelper.exe"}, {}})
                      .process;
    for (int i = 0; i < 500 && !SteamSessionMonitor::isWineRunning(); ++i) std::this_thread::sleep_for(20ms);

    s.monitor->onMainButton();
    s.monitor->updateSteamStatus();
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(probes, 1);
    EXPECT_EQ(s.host.screens, std::vector<std::string>{"ready"});
    EXPECT_TRUE(s.wine.calls("wine").empty()) << "Steam was started";
    const auto status = helper->waitFor(10);
    EXPECT_TRUE(status && status->signaled) << "the helper was left alive";
}

// A launch found under way hangs; the user clicks Close Steam while the poll
// that detects the hang is still probing. The poll's restart starts its kill,
// the click closes, and nothing may relaunch Steam after that.
TEST(SteamSessionMonitorTest, ACloseDuringARestartsKillCallsTheRelaunchOff) {
    std::promise<bool> pollAnswer, clickAnswer;
    std::atomic<int> probes{0};
    auto poll = pollAnswer.get_future().share(), click = clickAnswer.get_future().share();
    SteamSessionRules::Clock::duration skipped{};
    Session s([&](auto& o) {
        o.now = [&] { return SteamSessionRules::Clock::now() + skipped; };
        o.isWineRunning = [&] { return ++probes == 1 ? poll.get() : click.get(); };
        o.isSteamReady = [] { return false; };
        o.restartPause = o.closePause = 10ms;
    });
    s.monitor->setupFinished(true, false);  // launching, timed from now
    skipped += 106s;
    const auto probing = [&](int n) {
        for (int i = 0; i < 2000 && probes < n; ++i) std::this_thread::sleep_for(10ms);
        return probes == n;
    };
    s.monitor->updateSteamStatus();
    ASSERT_TRUE(probing(1));  // the poll's probe answers first
    s.monitor->onMainButton();
    ASSERT_TRUE(probing(2));
    pollAnswer.set_value(true);
    ASSERT_TRUE(s.queue.drainUntil([&] { return s.host.screens.back() == "loading:Restarting Steam..."; }, 20s));
    clickAnswer.set_value(true);
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(s.host.screens, (std::vector<std::string>{"launching", "loading:Restarting Steam...", "ready"}));
    EXPECT_TRUE(s.wine.calls("wine").empty()) << "Steam relaunched after the close";
}

// A client just launched has no server for the probe to find yet; its own process still counts as
// Wine running, so the launch being watched (and its restart count) is not dropped for "ready".
TEST(SteamSessionMonitorTest, OurRunningClientIsWineRunningBeforeItsServerIsUp) {
    Session s([](auto& o) { o.isWineRunning = [] { return false; }; });
    s.monitor->startSteam();
    ASSERT_TRUE(s.launcher.isRunning());
    s.monitor->updateSteamStatus();
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(s.host.screens, (std::vector<std::string>{"launching"}));
    s.launcher.killAll();
}
