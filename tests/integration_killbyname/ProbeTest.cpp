#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <thread>

#include "controller/SteamSessionMonitor.h"
#include "logging/Logger.h"
#include "platform/MainQueue.h"
#include "platform/Subprocess.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

using namespace std::chrono_literals;

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

}  // namespace

TEST(ProbeTest, ReadinessNeedsOurOwnServerAndAWebHelper) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    wine.setServerAlive(true, home.home() + "/.wine");  // another prefix's server
    EXPECT_EQ(probeAll(), (std::vector<bool>{false, false, false, false}));
    wine.setServerAlive(true, Constants::prefixPath());
    EXPECT_EQ(probeAll(), (std::vector<bool>{true, false, false, true}));
    EXPECT_TRUE(waitFor([&] { return wine.livePids().empty(); })) << "a probe's waiting -w was left behind";
    wine.setServerAlive(false);
    auto helper = foreignHelper();
    ASSERT_TRUE(waitFor([] { return ProcessLauncher::isAnySteamWebHelperRunning(); }));
    EXPECT_EQ(probeAll(), (std::vector<bool>{false, false, false, true})) << "any helper counts as Wine running";
    wine.setServerAlive(true, Constants::prefixPath());
    EXPECT_EQ(probeAll(), (std::vector<bool>{true, true, true, true}));
    helper->sendSignal(SIGKILL);
    helper->wait();
}

// killAll ends our Steam (its server given two seconds first) and every web helper, also without a server program;
// a server command that hangs is ended with a warning instead of latching the session.
TEST(ProbeTest, KillAllEndsOurSteamAndEveryWebHelperAndNoServerCommandHangsIt) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    queue.install();
    ProcessLauncher launcher;
    int exits = 0;
    launcher.setOnExit([&](int32_t) { ++exits; });
    for (const bool serverProgram : {true, false}) {
        SCOPED_TRACE(serverProgram);
        ASSERT_TRUE(launcher.launchSteam(Constants::prefixPath()));
        auto foreign = foreignHelper();
        ASSERT_TRUE(waitFor([&] { return wine.serverAlive(); }));
        if (!serverProgram) std::filesystem::remove(Constants::wineserver());
        const auto before = std::chrono::steady_clock::now();
        launcher.killAll();
        EXPECT_GE(std::chrono::steady_clock::now() - before, 2s);
        EXPECT_TRUE(waitFor([] { return !ProcessLauncher::isAnySteamWebHelperRunning(); }));  // SIGKILL not awaited
        const auto status = foreign->waitFor(10);
        EXPECT_TRUE(status && status->signaled && status->status == SIGKILL);
        EXPECT_TRUE(queue.drainUntil([&] { return exits == (serverProgram ? 1 : 2); }, 20s));
        EXPECT_FALSE(launcher.isRunning());
        EXPECT_TRUE(!serverProgram || waitFor([&] { return !wine.serverAlive() && wine.livePids().empty(); }));
    }
    platform::MainQueue::setPoster({});

    std::filesystem::copy_file(Constants::wineBin(), Constants::wineserver());  // the one program takes both roles
    ProcessLauncher::setChildTimeLimit(1s);
    wine.set("wineserver.ignore_term", 1);
    wine.setServerAlive(true, Constants::prefixPath());
    EXPECT_TRUE(ProcessLauncher::isOurWineserverRunning()) << "the answer of the first second stands";
    wine.set("wineserver.sleep", 300);
    const auto start = std::chrono::steady_clock::now();
    launcher.killAll();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    const std::string log = testsupport::readFile(Logger::logPath());
    const std::string server = home.home() + "/Library/Application Support/Ferrowick/wine/bin/wineserver";
    for (const char* option : {" -w", " -k"})
        EXPECT_NE(log.find("[WARN] " + server + option + " did not finish within 1 s and was ended\n"),
                  std::string::npos)
            << log;
    EXPECT_TRUE(waitFor([&] { return wine.livePids().empty(); }));
}
