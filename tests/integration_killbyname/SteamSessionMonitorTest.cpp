#include <gtest/gtest.h>

#include <filesystem>
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
using SteamSessionRules::Clock;
using testsupport::processesMatching;

namespace {

// The whole session against the fake Wine runtime and its fake Steam client:
// real probes, real kills, the main queue drained by the test, and a clock
// the test can move forward past the hang timeout.
class SteamSessionMonitorTest : public ::testing::Test {
protected:
    SteamSessionMonitorTest() {
        queue.install();
        testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
        launcher.setOnExit([this](int32_t) { monitor.onSteamClosed(); });
    }
    ~SteamSessionMonitorTest() override {
        queue.drainUntil([&] { return !monitor.isBusy(); }, 60s);
        platform::MainQueue::setPoster({});
    }

    SteamSessionMonitor::Options options() {
        SteamSessionMonitor::Options o;
        o.now = [this] { return Clock::now() + skipped; };
        return o;
    }
    // Runs one poll, or one click, to its end.
    void settle() {
        ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy(); }, 120s));
    }
    void tick() {
        monitor.updateSteamStatus();
        settle();
    }
    void click() {
        monitor.onMainButton();
        settle();
    }
    bool waitForServer() {
        for (int i = 0; i < 1000 && !wine.serverAlive(); ++i) std::this_thread::sleep_for(20ms);
        return wine.serverAlive();
    }
    bool helperAlive() { return !processesMatching("steamwebhelper.exe").empty(); }
    bool waitForHelper() {
        for (int i = 0; i < 1000 && !helperAlive(); ++i) std::this_thread::sleep_for(20ms);
        return helperAlive();
    }
    int logCount(const std::string& message) {
        const std::string log = testsupport::readFile(Logger::logPath());
        int n = 0;
        for (size_t at = log.find("] [INFO] " + message + "\n"); at != std::string::npos;
             at = log.find("] [INFO] " + message + "\n", at + 1)) {
            ++n;
        }
        return n;
    }
    void expectNothingLeft() {
        EXPECT_FALSE(helperAlive());
        EXPECT_FALSE(wine.serverAlive());
        EXPECT_TRUE(wine.livePids().empty());
    }

    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    ProcessLauncher launcher;
    testsupport::RecordingSteamHost host;
    Clock::duration skipped{};
    SteamSessionMonitor monitor{launcher, host, options()};
};

using Screens = std::vector<std::string>;

}  // namespace

TEST_F(SteamSessionMonitorTest, StartBecomeReadyCloseAndQuit) {
    click();  // nothing runs: starts Steam
    EXPECT_EQ(host.screens, Screens{"launching"});
    EXPECT_EQ(logCount("Launching Steam"), 1);
    ASSERT_TRUE(waitForHelper());

    tick();  // first ready poll
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::launching);
    tick();  // second
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::running);
    EXPECT_EQ(host.screens, (Screens{"launching", "running"}));

    click();  // Steam runs: closes it
    queue.drainUntil([&] { return logCount("Steam closed") == 1; }, 20s);
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::ready);
    EXPECT_EQ(host.screens.back(), "ready");
    EXPECT_EQ(logCount("User clicked Close Steam"), 1);
    EXPECT_EQ(logCount("Steam closed"), 1);
    expectNothingLeft();

    click();
    EXPECT_EQ(host.screens.back(), "launching");
    ASSERT_TRUE(waitForHelper());
    monitor.applicationWillTerminate();  // blocks until everything has gone
    expectNothingLeft();
    EXPECT_EQ(wine.calls("wineserver").back().args, std::vector<std::string>{"-k"});
}

TEST_F(SteamSessionMonitorTest, AHungLaunchIsRestartedOnceThenFailsAndTheButtonClosesIt) {
    wine.set("steam.helper_delay", "never");
    monitor.startSteam();
    ASSERT_TRUE(waitForServer());
    tick();
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::launching);

    skipped += 106s;
    tick();  // stuck: kill, pause, relaunch
    EXPECT_EQ(logCount("Steam stuck on launch, auto-restarting (attempt 1)"), 1);
    EXPECT_EQ(host.screens, (Screens{"launching", "loading:Restarting Steam...", "launching"}));
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::launching);
    EXPECT_EQ(monitor.fields().steamAutoRestartAttempts, 1);
    EXPECT_EQ(launcher.launchGeneration(), 2);
    EXPECT_TRUE(launcher.isRunning());

    skipped += 106s;
    ASSERT_TRUE(waitForServer());
    tick();
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::launchFailed);
    EXPECT_EQ(host.screens.back(), "launchFailed");
    EXPECT_EQ(logCount("Steam stuck on launch, auto-restarting (attempt 1)"), 1);
    EXPECT_EQ(wine.calls("wine").size(), 2u);

    click();  // Steam's Wine is still alive: the button closes it
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::ready);
    EXPECT_EQ(host.screens.back(), "ready");
    queue.drainUntil([&] { return !launcher.hasGameProcess(); }, 20s);
    expectNothingLeft();
}

TEST_F(SteamSessionMonitorTest, SteamEndingOnItsOwnIsNoticedAtOnceOrAtTheNextPoll) {
    // The launcher's own Steam: its exit notice moves the session at once.
    monitor.startSteam();
    ASSERT_TRUE(waitForHelper());
    tick();
    tick();
    ASSERT_EQ(monitor.fields().steamPhase, SteamPhase::running);
    launcher.terminate();
    ASSERT_TRUE(queue.drainUntil([&] { return logCount("Steam closed") == 1; }, 20s));
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::ready);
    EXPECT_EQ(host.screens.back(), "ready");

    // A Steam started outside the launcher is found by the poll, and its end too.
    platform::SubprocessSpec outside;
    outside.executable = Constants::wineBin();
    outside.arguments = {Constants::steamExePath};
    outside.environment = Constants::buildSafeEnvironment(Constants::prefixPath());
    auto steam = platform::Subprocess::start(outside).process;
    ASSERT_TRUE(steam);
    ASSERT_TRUE(waitForHelper());
    tick();
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::running);
    EXPECT_EQ(host.screens.back(), "running");

    steam->terminate();
    steam->wait();
    tick();
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::ready);
    EXPECT_EQ(host.screens.back(), "ready");
    EXPECT_EQ(logCount("Steam closed"), 2);
    expectNothingLeft();
}

TEST_F(SteamSessionMonitorTest, NoPollBeforeTheAgreementOrWithoutSteam) {
    for (auto [eula, installed] : {std::pair{false, true}, std::pair{true, false}}) {
        host.eula = eula;
        host.installed = installed;
        monitor.updateSteamStatus();
        EXPECT_FALSE(monitor.isBusy());
    }
    EXPECT_TRUE(wine.calls().empty());
    EXPECT_TRUE(host.screens.empty());
}
