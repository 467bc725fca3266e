#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/MainQueue.h"
#include "platform/Subprocess.h"
#include "process/ProcessLauncher.h"
#include "controller/SteamSessionMonitor.h"
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
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(tickOnceServerIsUp());  // stuck: kill (2 s for the server), a 3 s pause, relaunch
    EXPECT_GE(std::chrono::steady_clock::now() - before, 5s);
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

// A web helper of another Wine installation makes the button close (and kill it) instead
// of starting Steam, and no poll probes while the button's work is under way.
TEST(SteamSessionMonitorTest, AnyWebHelperMakesTheButtonCloseAndPollsWait) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
    platform::ManualQueue queue;
    queue.install();
    ProcessLauncher launcher;
    testsupport::RecordingSteamHost host;
    std::atomic<int> probes{0};
    SteamSessionMonitor::Options options;
    options.isWineRunning = [&] { return ++probes, SteamSessionMonitor::isWineRunning(); };
    SteamSessionMonitor monitor{launcher, host, options};
    auto helper = platform::Subprocess::start(
                      {testsupport::testProgram("argdump"), {"sleep", "120", "C:\\other\\steamwebhelper.exe"}, {}})
                      .process;
    for (int i = 0; i < 500 && !SteamSessionMonitor::isWineRunning(); ++i) std::this_thread::sleep_for(20ms);

    monitor.onMainButton();
    monitor.updateSteamStatus();
    ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy(); }, 60s));
    EXPECT_EQ(probes, 1);
    EXPECT_EQ(host.screens, std::vector<std::string>{"ready"});
    EXPECT_TRUE(wine.calls("wine").empty()) << "Steam was started";
    const auto status = helper->waitFor(10);
    EXPECT_TRUE(status && status->signaled) << "the helper was left alive";
    platform::MainQueue::setPoster({});
}
