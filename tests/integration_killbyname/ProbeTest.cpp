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

// server, web helper, ready, Wine running
std::vector<bool> probeAll() {
    return {ProcessLauncher::isOurWineserverRunning(), ProcessLauncher::isSteamWebHelperRunning(),
            ProcessLauncher::isSteamReady(), SteamSessionMonitor::isWineRunning()};
}

class ProbeTest : public ::testing::Test {
protected:
    ProbeTest() {
        queue.install();
        launcher.setOnExit([this](int32_t) { ++exits; });
    }
    ~ProbeTest() override { platform::MainQueue::setPoster({}); }
    // A web helper of some other Wine installation: any process naming it.
    std::unique_ptr<platform::Subprocess> foreignHelper() {
        return platform::Subprocess::start(
                   {testsupport::testProgram("argdump"), {"sleep", "120", "C:\\other\\steamwebhelper.exe"}, {}})
            .process;
    }

    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    ProcessLauncher launcher;
    int exits = 0;
};

}  // namespace

TEST_F(ProbeTest, ReadinessNeedsOurOwnServerAndAWebHelper) {
    wine.setServerAlive(true, home.home() + "/.wine");  // another prefix's server
    EXPECT_EQ(probeAll(), (std::vector<bool>{false, false, false, false}));
    // A probe that found a server ends its waiting "-w" instead of leaving it behind.
    wine.setServerAlive(true, Constants::prefixPath());
    EXPECT_EQ(probeAll(), (std::vector<bool>{true, false, false, true}));
    EXPECT_TRUE(waitFor([&] { return wine.livePids().empty(); }));

    wine.setServerAlive(false);
    auto helper = foreignHelper();
    ASSERT_TRUE(waitFor([] { return ProcessLauncher::isAnySteamWebHelperRunning(); }));
    EXPECT_EQ(probeAll(), (std::vector<bool>{false, false, false, true})) << "any helper counts as Wine running";
    wine.setServerAlive(true, Constants::prefixPath());
    EXPECT_EQ(probeAll(), (std::vector<bool>{true, true, true, true}));
    helper->sendSignal(SIGKILL);
    helper->wait();
}

// killAll ends our Steam and every web helper, also without a server program.
TEST_F(ProbeTest, KillAllEndsOurSteamAndEveryWebHelper) {
    for (const bool serverProgram : {true, false}) {
        SCOPED_TRACE(serverProgram);
        ASSERT_TRUE(launcher.launchSteam(Constants::prefixPath()));
        auto foreign = foreignHelper();
        ASSERT_TRUE(waitFor([&] { return wine.serverAlive(); }));
        if (!serverProgram) std::filesystem::remove(Constants::wineserver());
        const auto before = std::chrono::steady_clock::now();
        launcher.killAll();
        EXPECT_GE(std::chrono::steady_clock::now() - before, 2s) << "the server's two seconds before helpers die";
        // SIGKILL is delivered, not awaited: a helper can be listed a moment longer.
        EXPECT_TRUE(waitFor([] { return !ProcessLauncher::isAnySteamWebHelperRunning(); }));
        const auto status = foreign->waitFor(10);
        EXPECT_TRUE(status && status->signaled && status->status == SIGKILL);
        EXPECT_TRUE(queue.drainUntil([&] { return exits == (serverProgram ? 1 : 2); }, 20s));
        EXPECT_FALSE(launcher.isRunning());
        EXPECT_TRUE(!serverProgram || waitFor([&] { return !wine.serverAlive() && wine.livePids().empty(); }));
    }
}

// A probe or clean-up child that hangs is ended with a warning instead of latching the session.
TEST_F(ProbeTest, HungServerCommandsAreEndedWithAWarning) {
    ProcessLauncher::setChildTimeLimit(1s);
    const std::string server = home.home() + "/Library/Application Support/Ferrowick/wine/bin/wineserver";
    wine.set("wineserver.ignore_term", 1);
    wine.setServerAlive(true, Constants::prefixPath());
    EXPECT_TRUE(ProcessLauncher::isOurWineserverRunning()) << "the answer of the first second stands";
    wine.set("wineserver.sleep", 300);
    const auto start = std::chrono::steady_clock::now();
    launcher.killAll();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    const std::string log = testsupport::readFile(Logger::logPath());
    for (const char* option : {" -w", " -k"})
        EXPECT_NE(log.find("[WARN] " + server + option + " did not finish within 1 s and was ended\n"),
                  std::string::npos)
            << log;
    EXPECT_TRUE(waitFor([&] { return wine.livePids().empty(); }));
}
