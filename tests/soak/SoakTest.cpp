#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <thread>

#include "ProcessResources.h"
#include "controller/SetupPipeline.h"
#include "controller/SteamSessionMonitor.h"
#include "logging/Logger.h"
#include "platform/MainQueue.h"
#include "process/ProcessLauncher.h"
#include "runtime/RuntimeValidator.h"
#include "support/FakeWine.h"
#include "support/GraphicsBundle.h"
#include "support/RecordingSteamHost.h"
#include "support/TestHome.h"
#include "wine/Constants.h"
#include "wine/PrefixManager.h"

using namespace std::chrono_literals;

namespace {

// The process once the detached work items and exit watchers of the last
// repetition have ended: threads and descriptors unchanged for 300 ms.
ProcessResources settled() {
    ProcessResources last = ProcessResources::now();
    for (int quiet = 0, i = 0; quiet < 15 && i < 500; ++i) {
        std::this_thread::sleep_for(20ms);
        const ProcessResources next = ProcessResources::now();
        quiet = (next.threads == last.threads && next.fds == last.fds) ? quiet + 1 : 0;
        last = next;
    }
    return last;
}

void expectResourcesBack(const ProcessResources& before, int repetitions) {
    const ProcessResources after = settled();
    std::printf("soak: %d repetitions; fds %d -> %d, threads %d -> %d, RSS %ld -> %ld kB, zombies %d\n", repetitions,
                before.fds, after.fds, before.threads, after.threads, before.rssKB, after.rssKB, after.zombieChildren);
    EXPECT_EQ(after.fds, before.fds);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.zombieChildren, 0);
    EXPECT_LT(after.rssKB - before.rssKB, 5 * 1024);
}

// Every line of the launcher log is whole: a time stamp, a level, a message and its line break.
void expectWholeLogLines(size_t atLeast) {
    const std::string log = testsupport::readFile(Logger::logPath());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n');
    // No second time stamp inside a message: two lines run into one.
    const std::regex whole(R"(\[\d\d:\d\d:\d\d\.\d\d\d\] \[(INFO|WARN|ERROR|PERF)\] ((?!\[\d\d:\d\d:\d\d\.)[^\r])*)");
    size_t lines = 0;
    for (size_t start = 0; start < log.size(); ++lines) {
        const size_t end = log.find('\n', start);
        const std::string line = log.substr(start, end - start);
        ASSERT_TRUE(std::regex_match(line, whole)) << "torn line " << lines + 1 << ": " << line;
        start = end + 1;
    }
    EXPECT_GE(lines, atLeast);
}

// Logs from another thread while the soak runs, so the log's lock is contended.
struct ChattyThread {
    std::atomic<bool> stop{false};
    std::thread thread{[this] {
        while (!stop) Logger::shared().info("soak: a line from another thread"), std::this_thread::sleep_for(5ms);
    }};
    ~ChattyThread() { stop = true, thread.join(); }
};

}  // namespace

// Start, ready and stop against the fake Steam client: the button starts it, a
// poll sees its web helper, and Steam goes (mostly by quitting itself; every
// tenth cycle by the button's close, which ends the server and kills the
// helpers). The probes are the process probe alone: the server probe's
// one-second pause would make 300 cycles take a quarter of an hour, and the
// kill-by-name tier covers it.
TEST(SoakTest, SteamStartReadyStopCyclesLeaveNothingBehind) {
    constexpr int kWarmUp = 3, kCycles = 300;
    testsupport::TestHome home;
    Logger::shared();  // starts the log
    testsupport::FakeWine wine;
    testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
    platform::ManualQueue queue;
    queue.install();
    ProcessLauncher launcher;
    testsupport::RecordingSteamHost host;
    SteamSessionMonitor::Options options;
    options.isWineRunning = [] { return ProcessLauncher::isAnySteamWebHelperRunning(); };
    options.isSteamReady = options.isWineRunning;
    options.closePause = 0ms;
    SteamSessionMonitor monitor{launcher, host, options};
    launcher.setOnExit([&](int32_t) { monitor.onSteamClosed(); });

    auto cycle = [&](int n) {
        host.screens.clear();
        monitor.onMainButton();
        ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy() && launcher.isRunning(); }, 30s)) << n;
        // Without the server probe, a poll before the client's helper is up would take Steam for gone.
        for (int i = 0; i < 500 && !ProcessLauncher::isAnySteamWebHelperRunning(); ++i)
            std::this_thread::sleep_for(10ms);
        for (int i = 0; i < 500 && monitor.fields().steamPhase != SteamPhase::running; ++i) {
            monitor.updateSteamStatus();
            ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy(); }, 30s)) << n;
            if (monitor.fields().steamPhase != SteamPhase::running) std::this_thread::sleep_for(10ms);
        }
        if (n % 10 == 9) {
            monitor.onMainButton();
        } else {
            launcher.terminate();
        }
        ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy() && !launcher.hasGameProcess(); }, 30s)) << n;
        // A close shows the ready screen once, when it is done; its exit notice only logs.
        EXPECT_EQ(host.screens, (std::vector<std::string>{"launching", "running", "ready"})) << "cycle " << n;
        // The client takes its helper and server with it; the next click must find nothing running.
        for (int i = 0; i < 500 && (wine.serverAlive() || ProcessLauncher::isAnySteamWebHelperRunning()); ++i)
            std::this_thread::sleep_for(10ms);
    };

    for (int n = 0; n < kWarmUp; ++n) cycle(n);
    ASSERT_FALSE(HasFailure());
    const auto before = settled();
    {
        ChattyThread chatter;
        for (int n = kWarmUp; n < kWarmUp + kCycles && !HasFailure(); ++n) cycle(n);
    }
    EXPECT_EQ(launcher.launchGeneration(), kWarmUp + kCycles);
    expectResourcesBack(before, kCycles);
    expectWholeLogLines(2 * (kWarmUp + kCycles));
    platform::MainQueue::setPoster({});
}

namespace {

// The pipeline's services over the real prefix manager and validator, with
// the fake Wine runtime. This machine is no Mac, so the OS and CPU checks
// answer as one would; the disk check answers yes.
struct RealServices : SetupPipeline::Services {
    PrefixManager prefix;
    SetupPipeline::Check checkMacOSVersion() override { return {true, "14.5"}; }
    SetupPipeline::Check checkSupportedCPU() override { return {true, "arm64"}; }
    std::optional<std::string> validateBundledDLLs() override { return RuntimeValidator::validateBundledDLLs(); }
    bool wineInstalled() override { return prefix.wineExists(); }
    SetupPipeline::Check checkWineVersion() override {
        const auto check = prefix.checkWineVersion();
        return {check.valid, check.version};
    }
    bool prefixExists() override { return prefix.prefixExists(); }
    bool enoughDiskSpace() override { return true; }
    bool createPrefix(const SetupPipeline::StatusCallback& status) override { return prefix.createPrefix(status); }
    bool mesaDLLsDeployed() override { return prefix.mesaDLLsDeployed(); }
    bool deployMesaDLLs(const SetupPipeline::StatusCallback& status) override { return prefix.deployMesaDLLs(status); }
    bool steamInstalled() override { return prefix.steamInstalled(); }
    bool isWineRunning() override { return false; }
    bool isSteamReady() override { return false; }
    void installWine(std::function<void(double)>, std::function<void(const DownloadResult&)> completion) override {
        completion(DownloadError::networkError("no download in the soak"));
    }
};

}  // namespace

// Whole pipeline runs, each into a fresh prefix: version check, wineboot, the
// graphics DLLs and their registry overrides, all through real child processes
// and the setup log, ending on the installer step.
TEST(SoakTest, SetupPipelineRunsLeaveNothingBehind) {
    constexpr int kWarmUp = 2, kRuns = 50;
    testsupport::TestHome home;
    Logger::shared();
    testsupport::GraphicsBundle bundle(home.bundle());
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    queue.install();
    RealServices services;
    std::vector<std::string> screens;
    SetupPipeline::Hooks hooks;
    hooks.log = [](const std::string& level, const std::string& message) { Logger::shared().log(message, level); };
    hooks.showLoading = [](const std::string&) {};
    hooks.showStep1 = [&] { platform::MainQueue::post([&] { screens.push_back("step1"); }); };
    hooks.showError = [&](const std::string& m) {
        platform::MainQueue::post([&, m] { screens.push_back("error:" + m); });
    };
    hooks.showDownload = [] {};
    hooks.showDownloadProgress = [](double, const std::string&) {};
    hooks.setupFinished = [&](bool, std::optional<bool>) { screens.push_back("finished"); };
    LauncherActivity activity;
    SetupPipeline pipeline(services, activity, hooks);

    auto run = [&](int n) {
        std::error_code ec;
        std::filesystem::remove_all(Constants::prefixPath(), ec);
        screens.clear();
        pipeline.validateAndPrepare();
        ASSERT_TRUE(queue.drainUntil([&] { return !pipeline.isRunning() && !screens.empty(); }, 60s)) << n;
        EXPECT_EQ(screens, std::vector<std::string>{"step1"}) << "run " << n;
        EXPECT_TRUE(services.mesaDLLsDeployed()) << "run " << n;
    };

    for (int n = 0; n < kWarmUp; ++n) run(n);
    ASSERT_FALSE(HasFailure());
    const auto before = settled();
    {
        ChattyThread chatter;
        for (int n = kWarmUp; n < kWarmUp + kRuns && !HasFailure(); ++n) run(n);
    }
    EXPECT_EQ(wine.calls("wine").size() % (kWarmUp + kRuns), 0u) << "every run ran the same Wine commands";
    expectResourcesBack(before, kRuns);
    expectWholeLogLines(kWarmUp + kRuns);
    platform::MainQueue::setPoster({});
}
