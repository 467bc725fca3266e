#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "controller/SteamSessionMonitor.h"
#include "platform/MainQueue.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/RecordingSteamHost.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

using namespace std::chrono_literals;

// The session against the fake Steam client that never brings up its web
// helper: real probes and kills, and a clock moved past the hang timeout.
TEST(SteamSessionMonitorTest, AHungLaunchIsRestartedOnceThenFailsAndTheButtonClosesIt) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    wine.set("steam.helper_delay", "never");
    testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
    platform::ManualQueue queue;
    queue.install();
    ProcessLauncher launcher;
    testsupport::RecordingSteamHost host;
    SteamSessionRules::Clock::duration skipped{};
    SteamSessionMonitor::Options options;
    options.now = [&] { return SteamSessionRules::Clock::now() + skipped; };
    SteamSessionMonitor monitor{launcher, host, options};
    launcher.setOnExit([&](int32_t) { monitor.onSteamClosed(); });
    auto tickOnceServerIsUp = [&] {
        for (int i = 0; i < 1000 && !wine.serverAlive(); ++i) std::this_thread::sleep_for(20ms);
        skipped += 106s;
        monitor.updateSteamStatus();
        return queue.drainUntil([&] { return !monitor.isBusy(); }, 120s);
    };

    monitor.startSteam();
    ASSERT_TRUE(tickOnceServerIsUp());  // stuck: kill, pause, relaunch
    EXPECT_EQ(host.screens, (std::vector<std::string>{"launching", "loading:Restarting Steam...", "launching"}));
    EXPECT_EQ(launcher.launchGeneration(), 2);
    ASSERT_TRUE(tickOnceServerIsUp());
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::launchFailed);
    EXPECT_EQ(wine.calls("wine").size(), 2u) << "restarted only once";

    monitor.onMainButton();  // Steam's Wine is still alive: the button closes it
    EXPECT_TRUE(queue.drainUntil([&] { return !monitor.isBusy() && !launcher.hasGameProcess(); }, 60s));
    EXPECT_EQ(host.screens.back(), "ready");
    EXPECT_FALSE(wine.serverAlive());
    platform::MainQueue::setPoster({});
}

// A launch found under way hangs; the user clicks Close Steam while the poll
// that detects the hang is still probing. The poll's restart starts its kill,
// the click closes, and nothing may relaunch Steam after that.
TEST(SteamSessionMonitorTest, ACloseDuringARestartsKillCallsTheRelaunchOff) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    queue.install();
    ProcessLauncher launcher;
    testsupport::RecordingSteamHost host;
    std::promise<bool> pollAnswer, clickAnswer;
    std::atomic<int> probes{0};
    auto poll = pollAnswer.get_future().share(), click = clickAnswer.get_future().share();
    SteamSessionRules::Clock::duration skipped{};
    SteamSessionMonitor::Options options;
    options.now = [&] { return SteamSessionRules::Clock::now() + skipped; };
    options.isWineRunning = [&] { return ++probes == 1 ? poll.get() : click.get(); };
    options.isSteamReady = [] { return false; };
    options.restartPause = 10ms;
    options.closePause = 10ms;
    SteamSessionMonitor monitor{launcher, host, options};

    monitor.setupFinished(true, false);  // launching, timed from now
    skipped += 106s;
    const auto probing = [&](int n) {
        for (int i = 0; i < 2000 && probes < n; ++i) std::this_thread::sleep_for(10ms);
        return probes == n;
    };
    monitor.updateSteamStatus();
    ASSERT_TRUE(probing(1));  // the poll's probe answers first
    monitor.onMainButton();
    ASSERT_TRUE(probing(2));
    pollAnswer.set_value(true);
    ASSERT_TRUE(queue.drainUntil([&] { return host.screens.back() == "loading:Restarting Steam..."; }, 20s));
    clickAnswer.set_value(true);
    ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy(); }, 60s));

    EXPECT_EQ(host.screens, (std::vector<std::string>{"launching", "loading:Restarting Steam...", "ready"}));
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::ready);
    EXPECT_TRUE(wine.calls("wine").empty()) << "Steam relaunched after the close";
    platform::MainQueue::setPoster({});
}
