#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

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

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// What this process holds, read from /proc: compared before and after the repetitions.
struct ProcessResources {
    long fds = 0, threads = 0, rssKB = 0;
    bool zombieChild = false;  // a child of ours that ended and was never reaped
    static ProcessResources now() {
        const auto entries = [](const char* dir) { return std::distance(fs::directory_iterator(dir), {}); };
        ProcessResources r{entries("/proc/self/fd") - 1, entries("/proc/self/task")};  // less the iterator's own
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("VmRSS:")) r.rssKB = std::stol(line.substr(6));
        siginfo_t info{};
        r.zombieChild = ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
        return r;
    }
};

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
    std::printf("soak: %d repetitions; fds %ld -> %ld, threads %ld -> %ld, RSS %ld -> %ld kB, zombie %d\n", repetitions,
                before.fds, after.fds, before.threads, after.threads, before.rssKB, after.rssKB, after.zombieChild);
    EXPECT_EQ(after.fds, before.fds);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_FALSE(after.zombieChild);
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

// Waits up to five seconds for `done`.
void waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(10ms);
}

// Runs `once` for a warm-up, then `times` more while another thread logs (so
// the log's lock is contended), and expects the process's resources back and
// at least `lines` whole log lines for each run.
void soak(int warmUp, int times, size_t lines, const std::function<void(int)>& once) {
    for (int n = 0; n < warmUp; ++n) once(n);
    ASSERT_FALSE(::testing::Test::HasFailure());
    const auto before = settled();
    std::atomic<bool> stop{false};
    std::thread chatter([&] {
        while (!stop) Logger::shared().info("soak: a line from another thread"), std::this_thread::sleep_for(5ms);
    });
    for (int n = warmUp; n < warmUp + times && !::testing::Test::HasFailure(); ++n) once(n);
    stop = true, chatter.join();
    expectResourcesBack(before, times);
    expectWholeLogLines(lines * (warmUp + times));
}

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
        waitFor(ProcessLauncher::isAnySteamWebHelperRunning);
        for (int i = 0; i < 500 && monitor.fields().steamPhase != SteamPhase::running; ++i) {
            monitor.updateSteamStatus();
            ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy(); }, 30s)) << n;
            if (monitor.fields().steamPhase != SteamPhase::running) std::this_thread::sleep_for(10ms);
        }
        n % 10 == 9 ? monitor.onMainButton() : launcher.terminate();
        ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy() && !launcher.hasGameProcess(); }, 30s)) << n;
        // A close shows the ready screen once, when it is done; its exit notice only logs.
        EXPECT_EQ(host.screens, (std::vector<std::string>{"launching", "running", "ready"})) << "cycle " << n;
        // The client takes its helper and server with it; the next click must find nothing running.
        waitFor([&] { return !wine.serverAlive() && !ProcessLauncher::isAnySteamWebHelperRunning(); });
    };

    soak(kWarmUp, kCycles, 2, cycle);
    EXPECT_EQ(launcher.launchGeneration(), kWarmUp + kCycles);
    platform::MainQueue::setPoster({});
}

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
    hooks.showError = [&](const std::string& m) { platform::MainQueue::post([&, m] { screens.push_back(m); }); };
    hooks.showDownload = [] {};
    hooks.showDownloadProgress = [](double, const std::string&) {};
    hooks.setupFinished = [&](bool, std::optional<bool>) { screens.push_back("finished"); };
    LauncherActivity activity;
    SetupPipeline pipeline(services, activity, hooks);

    auto run = [&](int n) {
        fs::remove_all(Constants::prefixPath());
        screens.clear();
        pipeline.validateAndPrepare();
        ASSERT_TRUE(queue.drainUntil([&] { return !pipeline.isRunning() && !screens.empty(); }, 60s)) << n;
        EXPECT_EQ(screens, std::vector<std::string>{"step1"}) << "run " << n;
        EXPECT_TRUE(services.mesaDLLsDeployed()) << "run " << n;
    };

    soak(kWarmUp, kRuns, 1, run);
    EXPECT_EQ(wine.calls("wine").size() % (kWarmUp + kRuns), 0u) << "every run ran the same Wine commands";
    platform::MainQueue::setPoster({});
}
