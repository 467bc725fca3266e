#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <future>

#include "common/Constants.h"
#include "controller/SteamSessionMonitor.h"
#include "logging/Logger.h"
#include "platform/MainQueue.h"
#include "platform/Subprocess.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/GoldenLog.h"
#include "support/RecordingFrontEnd.h"
#include "support/TestHome.h"

using namespace std::chrono_literals;
using Screens = std::vector<std::string>;

namespace {

bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(20ms);
    return condition();
}

// A web helper of some other Wine installation: any process naming it.
std::unique_ptr<platform::Subprocess> foreignHelper() {
    return platform::Subprocess::start(
               {testsupport::testProgram("argdump"), {"sleep", "120", "C:\\other\\steamwebhelper.exe"}, {}})
        .process;
}

// server, web helper, ready, Wine running
std::vector<bool> probeAll() {
    return {ProcessLauncher::isOurWineserverRunning(), ProcessLauncher::isSteamWebHelperRunning(),
            ProcessLauncher::isSteamReady(), SteamSessionMonitor::isWineRunning()};
}

// The session over the real launcher and kills, Steam installed, its clock `skipped` ahead. handProbe() makes the
// Wine probe wait for the test's answers (the first call's, then one for all later calls), so it can act meanwhile.
struct Session {
    explicit Session(const std::function<void(Session&)>& adjust = {}) {
        testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
        queue.install();
        options.activity = &activity;
        options.now = [this] { return SteamSessionRules::Clock::now() + skipped; };
        if (adjust) adjust(*this);
        monitor = std::make_unique<SteamSessionMonitor>(launcher, frontEnd, options);
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
        return waitFor([&] { return probes >= n; }) && probes == n;
    }

    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    ProcessLauncher launcher;
    LauncherActivity activity;
    testsupport::RecordingFrontEnd frontEnd;
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
        waitFor([&] { return s.wine.serverAlive(); });
        s.skipped += 106s;
        s.monitor->updateSteamStatus();
    };
    s.monitor->startSteam();
    tickOnceServerIsUp();
    ASSERT_TRUE(s.queue.drainUntil([&] { return s.frontEnd.screens.back() == "loading:Restarting Steam..."; }, 60s));
    const auto restarting = std::chrono::steady_clock::now();
    ASSERT_TRUE(s.settled());
    EXPECT_GE(std::chrono::steady_clock::now() - restarting, 5s);
    EXPECT_EQ(s.frontEnd.screens, (Screens{"launching", "loading:Restarting Steam...", "launching"}));
    tickOnceServerIsUp();
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(s.wine.calls("wine").size(), 2u) << "restarted only once";
    s.monitor->onMainButton();
    EXPECT_TRUE(s.queue.drainUntil([&] { return !s.monitor->isBusy() && !s.launcher.hasGameProcess(); }, 60s));
    EXPECT_EQ(s.frontEnd.screens,
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
    auto helper = foreignHelper();
    ASSERT_TRUE(waitFor(SteamSessionMonitor::isWineRunning));
    s.monitor->onMainButton();
    s.monitor->updateSteamStatus();
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(s.probes, 1);
    EXPECT_EQ(s.frontEnd.screens, Screens{"ready"});
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
    ASSERT_TRUE(s.queue.drainUntil([&] { return s.frontEnd.screens.back() == "loading:Restarting Steam..."; }, 20s));
    s.answer[1].set_value(true);
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(s.frontEnd.screens, (Screens{"launching", "loading:Restarting Steam...", "ready"}));
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
    EXPECT_EQ(s.frontEnd.screens, screens);
    EXPECT_EQ(s.readyProbes, readyProbes);
    if (!s.activity.busy()) return;
    s.monitor->updateSteamStatus(), s.monitor->onMainButton();
    EXPECT_EQ(s.probes, 1);
    EXPECT_FALSE(s.monitor->isBusy());
}

// The button's probe answers after a repair began: the answer is dropped, so Steam is not started into the prefix
// the repair moves aside, and the button works again once the repair is over. A launch that fails while the repair
// holds the screens still logs its error.
TEST(SteamSessionMonitorTest, AButtonAnswerAfterARepairBeganIsDropped) {
    Session s([](Session& s) { s.handProbe(); });
    s.monitor->onMainButton();
    ASSERT_TRUE(s.probing(1));
    ASSERT_TRUE(s.activity.tryEnter(LauncherActivity::Kind::repairing));
    s.answer[0].set_value(false);  // nothing runs: the click would start Steam
    ASSERT_TRUE(s.settled());
    EXPECT_TRUE(s.wine.calls("wine").empty()) << "Steam started during the repair";
    std::filesystem::remove(Constants::wineBin());
    s.monitor->startSteam();
    EXPECT_TRUE(s.frontEnd.screens.empty());
    EXPECT_NE(testsupport::readFile(Logger::logPath()).find("] [ERROR] Failed to launch Steam.\n"), std::string::npos);
    s.activity.leave(LauncherActivity::Kind::repairing);
    s.answer[1].set_value(false);
    s.monitor->onMainButton();
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(s.probes, 2);
    EXPECT_EQ(s.frontEnd.screens, Screens{"error:Failed to launch Steam."});
}

// A poll already probing when Open Steam is clicked finds Steam running; the click's own probe then finds nothing
// (Wine between two processes): the session has moved since the click, so its start is dropped.
TEST(SteamSessionMonitorTest, AButtonStartAfterAPollMovedTheSessionIsDropped) {
    Session s([](Session& s) { s.handProbe(); });
    s.monitor->updateSteamStatus();
    ASSERT_TRUE(s.probing(1));
    s.monitor->onMainButton();
    ASSERT_TRUE(s.probing(2));
    s.answer[0].set_value(true);
    ASSERT_TRUE(s.queue.drainUntil([&] { return !s.frontEnd.screens.empty(); }, 20s));
    s.answer[1].set_value(false);
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(s.frontEnd.screens, Screens{"running"});
    EXPECT_TRUE(s.wine.calls("wine").empty()) << "Steam started beside the one found running";
}

// A client just launched has no server for the probe to find yet; its own process still counts as Wine running, so
// the launch being watched (and its restart count) is not dropped for "ready".
TEST(SteamSessionMonitorTest, OurRunningClientIsWineRunningBeforeItsServerIsUp) {
    Session s([](Session& s) { s.options.isWineRunning = [] { return false; }; });
    s.monitor->startSteam();
    s.monitor->updateSteamStatus();
    ASSERT_TRUE(s.settled());
    EXPECT_EQ(s.frontEnd.screens, (Screens{"launching"}));
    s.launcher.killAll();
}

TEST(ProbeTest, ReadinessNeedsOurOwnServerAndAWebHelper) {
    Session s;
    s.wine.setServerAlive(true, s.home.home() + "/.wine");  // another prefix's server
    EXPECT_EQ(probeAll(), (std::vector<bool>{false, false, false, false}));
    s.wine.setServerAlive(true, Constants::prefixPath());
    EXPECT_EQ(probeAll(), (std::vector<bool>{true, false, false, true}));
    EXPECT_TRUE(waitFor([&] { return s.wine.livePids().empty(); })) << "a probe's waiting -w was left behind";
    s.wine.setServerAlive(false);
    auto helper = foreignHelper();
    ASSERT_TRUE(waitFor([] { return ProcessLauncher::isAnySteamWebHelperRunning(); }));
    EXPECT_EQ(probeAll(), (std::vector<bool>{false, false, false, true})) << "any helper counts as Wine running";
    s.wine.setServerAlive(true, Constants::prefixPath());
    EXPECT_EQ(probeAll(), (std::vector<bool>{true, true, true, true}));
    helper->sendSignal(SIGKILL);
    helper->wait();
}

// killAll ends our Steam (its server given two seconds first) and every web helper, also without a server program;
// a server command that hangs is ended with a warning instead of latching the session.
TEST(ProbeTest, KillAllEndsOurSteamAndEveryWebHelperAndNoServerCommandHangsIt) {
    Session s;
    int exits = 0;
    s.launcher.setOnExit([&](int32_t) { ++exits; });
    for (const bool serverProgram : {true, false}) {
        SCOPED_TRACE(serverProgram);
        ASSERT_TRUE(s.launcher.launchSteam(Constants::prefixPath()));
        auto foreign = foreignHelper();
        ASSERT_TRUE(waitFor([&] { return s.wine.serverAlive(); }));
        if (!serverProgram) std::filesystem::remove(Constants::wineserver());
        const auto before = std::chrono::steady_clock::now();
        s.launcher.killAll();
        EXPECT_GE(std::chrono::steady_clock::now() - before, 2s);
        EXPECT_TRUE(waitFor([] { return !ProcessLauncher::isAnySteamWebHelperRunning(); }));  // SIGKILL not awaited
        const auto status = foreign->waitFor(10);
        EXPECT_TRUE(status && status->signaled && status->status == SIGKILL);
        EXPECT_TRUE(s.queue.drainUntil([&] { return exits == (serverProgram ? 1 : 2); }, 20s));
        EXPECT_FALSE(s.launcher.isRunning());
        EXPECT_TRUE(!serverProgram || waitFor([&] { return !s.wine.serverAlive() && s.wine.livePids().empty(); }));
    }

    std::filesystem::copy_file(Constants::wineBin(), Constants::wineserver());  // the one program takes both roles
    ProcessLauncher::setChildTimeLimit(1s);
    s.wine.set("wineserver.ignore_term", 1);
    s.wine.setServerAlive(true, Constants::prefixPath());
    EXPECT_TRUE(ProcessLauncher::isOurWineserverRunning()) << "the answer of the first second stands";
    s.wine.set("wineserver.sleep", 300);
    const auto start = std::chrono::steady_clock::now();
    s.launcher.killAll();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    const std::string log = testsupport::readFile(Logger::logPath());
    const std::string server = s.home.home() + "/Library/Application Support/Ferrowick/wine/bin/wineserver";
    for (const char* option : {" -w", " -k"})
        EXPECT_NE(log.find("[WARN] " + server + option + " did not finish within 1 s and was ended\n"),
                  std::string::npos)
            << log;
    EXPECT_TRUE(waitFor([&] { return s.wine.livePids().empty(); }));
}
