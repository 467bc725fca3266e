#include <gtest/gtest.h>

#include <thread>

#include "logging/Logger.h"
#include "platform/MainQueue.h"
#include "platform/Subprocess.h"
#include "process/ProcessLauncher.h"
#include "process/SteamSessionMonitor.h"
#include "support/FakeWine.h"
#include "support/RecordingSteamHost.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

using namespace std::chrono_literals;
using Screens = std::vector<std::string>;

namespace {

// The session against the fake Steam client: real probes and kills, the main
// queue drained by the test, and a clock it can move past the hang timeout.
class SteamSessionMonitorTest : public ::testing::Test {
protected:
    SteamSessionMonitorTest() {
        queue.install();
        testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
        launcher.setOnExit([this](int32_t) { monitor.onSteamClosed(); });
    }
    ~SteamSessionMonitorTest() override {
        queue.drainUntil([&] { return !monitor.isBusy() && !launcher.hasGameProcess(); }, 60s);
        platform::MainQueue::setPoster({});
    }
    void tick() {
        monitor.updateSteamStatus();
        ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy(); }, 120s));
    }
    bool waitUntil(const std::function<bool()>& condition) {
        for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(20ms);
        return condition();
    }
    bool helperAlive() { return !testsupport::processesMatching("steamwebhelper.exe").empty(); }
    int closedLines() {
        const std::string log = testsupport::readFile(Logger::logPath());
        int n = 0;
        for (auto at = log.find("] Steam closed\n"); at != std::string::npos; at = log.find("] Steam closed\n", at + 1))
            ++n;
        return n;
    }
    SteamSessionMonitor::Options skippingClock() {
        SteamSessionMonitor::Options o;
        o.now = [this] { return SteamSessionRules::Clock::now() + skipped; };
        return o;
    }
    SteamPhase phase() const { return monitor.fields().steamPhase; }

    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    ProcessLauncher launcher;
    testsupport::RecordingSteamHost host;
    SteamSessionRules::Clock::duration skipped{};
    SteamSessionMonitor monitor{launcher, host, skippingClock()};
};

}  // namespace

TEST_F(SteamSessionMonitorTest, AHungLaunchIsRestartedOnceThenFailsAndTheButtonClosesIt) {
    wine.set("steam.helper_delay", "never");
    monitor.startSteam();
    ASSERT_TRUE(waitUntil([&] { return wine.serverAlive(); }));
    skipped += 106s;
    tick();  // stuck: kill, pause, relaunch
    EXPECT_EQ(host.screens, (Screens{"launching", "loading:Restarting Steam...", "launching"}));
    EXPECT_EQ(monitor.fields().steamAutoRestartAttempts, 1);
    EXPECT_EQ(launcher.launchGeneration(), 2);
    EXPECT_TRUE(launcher.isRunning());

    skipped += 106s;
    ASSERT_TRUE(waitUntil([&] { return wine.serverAlive(); }));
    tick();
    EXPECT_EQ(phase(), SteamPhase::launchFailed);
    EXPECT_EQ(wine.calls("wine").size(), 2u) << "restarted only once";

    monitor.onMainButton();  // Steam's Wine is still alive: the button closes it
    ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy() && !launcher.hasGameProcess(); }, 60s));
    EXPECT_EQ(host.screens.back(), "ready");
    EXPECT_FALSE(wine.serverAlive());
}

TEST_F(SteamSessionMonitorTest, SteamEndingOnItsOwnIsNoticedAtOnceOrAtTheNextPoll) {
    monitor.startSteam();  // the launcher's own Steam: its exit notice moves the session at once
    ASSERT_TRUE(waitUntil([&] { return helperAlive(); }));
    tick();
    tick();
    ASSERT_EQ(phase(), SteamPhase::running);
    launcher.terminate();
    ASSERT_TRUE(queue.drainUntil([&] { return closedLines() == 1; }, 20s));
    EXPECT_EQ(host.screens.back(), "ready");

    // A Steam started outside the launcher is found by the poll, and so is its end.
    auto steam =
        platform::Subprocess::start(
            {Constants::wineBin(), {Constants::steamExePath}, Constants::buildSafeEnvironment(Constants::prefixPath())})
            .process;
    ASSERT_TRUE(steam && waitUntil([&] { return helperAlive(); }));
    tick();
    EXPECT_EQ(host.screens.back(), "running");
    steam->terminate();
    steam->wait();
    tick();
    EXPECT_EQ(host.screens.back(), "ready");
    EXPECT_EQ(closedLines(), 2);
    EXPECT_FALSE(helperAlive() || wine.serverAlive());
}
