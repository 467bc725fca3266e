#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/MainQueue.h"
#include "platform/Subprocess.h"
#include "process/ProcessLauncher.h"
#include "process/SteamSessionMonitor.h"
#include "support/FakeWine.h"
#include "support/RecordingSteamHost.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testsupport::processesMatching;

namespace {

constexpr char kHelperName[] = "steamwebhelper.exe";

double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A web helper of some other Wine installation: a plain process whose command
// line holds the helper's name.
std::unique_ptr<platform::Subprocess> foreignHelper() {
    platform::SubprocessSpec child;
    child.executable = testsupport::testProgram("argdump");
    child.arguments = {"sleep", "120", std::string("C:\\other\\") + kHelperName};
    auto started = platform::Subprocess::start(child);
    return std::move(started.process);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

struct ProbeAnswers {
    bool server, webHelper, ready, wine;
};

ProbeAnswers probeAll() {
    return {ProcessLauncher::isOurWineserverRunning(), ProcessLauncher::isSteamWebHelperRunning(),
            ProcessLauncher::isSteamReady(), SteamSessionMonitor::isWineRunning()};
}

}  // namespace

TEST(ProbeTest, WithoutAWineRuntimeEveryProbeIsFalseAndStartsNothing) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    fs::remove(Constants::wineserver());
    wine.setServerAlive(true);

    const ProbeAnswers answers = probeAll();
    EXPECT_FALSE(answers.server);
    EXPECT_FALSE(answers.webHelper);
    EXPECT_FALSE(answers.ready);
    EXPECT_FALSE(answers.wine);
    EXPECT_TRUE(wine.calls().empty());
}

TEST(ProbeTest, ServerProbeAsksOurPrefixAndDecidesAfterItsPause) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;

    struct Case {
        const char* name;
        std::string serverPrefix;  // "-": no server
        bool alive;
    };
    for (const Case& c : {Case{"no server", "-", false}, Case{"our server", Constants::prefixPath(), true},
                          Case{"another prefix's server", home.home() + "/.wine", false}}) {
        SCOPED_TRACE(c.name);
        wine.setServerAlive(c.serverPrefix != "-", c.serverPrefix == "-" ? "" : c.serverPrefix);
        bool alive = false;
        const double seconds = secondsOf([&] { alive = ProcessLauncher::isOurWineserverRunning(); });
        EXPECT_EQ(alive, c.alive);
        EXPECT_GE(seconds, 1.0);
        // A probe that found a server ends its waiting "-w" instead of leaving it behind.
        EXPECT_TRUE(waitFor([] { return processesMatching(Constants::wineserver() + " -w").empty(); }, 5s));
    }
    const auto calls = wine.calls("wineserver");
    ASSERT_EQ(calls.size(), 3u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.args, std::vector<std::string>{"-w"});
        EXPECT_EQ(call.env, Constants::buildSafeEnvironment(Constants::prefixPath()));
    }
}

TEST(ProbeTest, ReadinessNeedsOurServerAndAWebHelper) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;

    // Our server alive, no helper anywhere.
    wine.setServerAlive(true, Constants::prefixPath());
    ProbeAnswers answers = probeAll();
    EXPECT_TRUE(answers.server);
    EXPECT_FALSE(answers.webHelper);
    EXPECT_FALSE(answers.ready);
    EXPECT_TRUE(answers.wine);

    // A helper of another installation, our server gone.
    wine.setServerAlive(false);
    auto helper = foreignHelper();
    ASSERT_TRUE(helper);
    ASSERT_TRUE(waitFor([] { return ProcessLauncher::isAnySteamWebHelperRunning(); }));
    answers = probeAll();
    EXPECT_FALSE(answers.server);
    EXPECT_FALSE(answers.webHelper);
    EXPECT_FALSE(answers.ready);
    EXPECT_TRUE(answers.wine);  // counts for the main button and the poll

    // Both: Steam counts as ready.
    wine.setServerAlive(true, Constants::prefixPath());
    answers = probeAll();
    EXPECT_TRUE(answers.webHelper);
    EXPECT_TRUE(answers.ready);
    helper->sendSignal(SIGKILL);
    helper->wait();
}

// killAll with the launcher's own Steam exit notice wired to a counter.
class KillAllTest : public ::testing::Test {
protected:
    KillAllTest() {
        queue.install();
        launcher.setOnExit([this](int32_t) { ++exits; });
    }
    ~KillAllTest() override { platform::MainQueue::setPoster({}); }
    bool exitHandled() {
        return queue.drainUntil([&] { return exits == 1; }, 20s);
    }

    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    ProcessLauncher launcher;
    int exits = 0;
};

TEST_F(KillAllTest, EndsOurSteamAndEveryWebHelper) {
    ASSERT_TRUE(launcher.launchSteam(Constants::prefixPath()));
    auto foreign = foreignHelper();
    ASSERT_TRUE(waitFor([] { return processesMatching(kHelperName).size() >= 2; }));
    ASSERT_TRUE(ProcessLauncher::isSteamReady());

    const double seconds = secondsOf([&] { launcher.killAll(); });
    EXPECT_GE(seconds, 2.0);
    EXPECT_TRUE(processesMatching(kHelperName).empty());
    EXPECT_FALSE(wine.serverAlive());
    const auto status = foreign->waitFor(10);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(status->signaled);
    EXPECT_EQ(status->status, SIGKILL);
    EXPECT_TRUE(exitHandled());
    EXPECT_TRUE(wine.livePids().empty());

    const auto calls = wine.calls("wineserver");
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().args, std::vector<std::string>{"-k"});
    EXPECT_EQ(calls.back().env, Constants::buildSafeEnvironment(Constants::prefixPath()));
}

TEST_F(KillAllTest, WithNothingRunningLeavesNothingBehind) {
    const double seconds = secondsOf([&] { launcher.killAll(); });
    EXPECT_GE(seconds, 2.0);
    EXPECT_EQ(wine.calls("wineserver").size(), 1u);
    EXPECT_TRUE(wine.livePids().empty());
    EXPECT_TRUE(processesMatching(Constants::wineserver()).empty());
}

TEST_F(KillAllTest, WithoutAServerProgramTerminatesTheTrackedSteam) {
    wine.set("steam.helper_delay", "never");
    ASSERT_TRUE(launcher.launchSteam(Constants::prefixPath()));
    ASSERT_TRUE(waitFor([&] { return wine.serverAlive(); }));
    fs::remove(Constants::wineserver());

    launcher.killAll();
    EXPECT_TRUE(exitHandled());
    EXPECT_FALSE(launcher.isRunning());
}
