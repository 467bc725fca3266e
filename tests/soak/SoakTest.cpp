#include <gtest/gtest.h>
#include <sys/wait.h>

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
#include "support/RecordingFrontEnd.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// What this process holds, from /proc, once the last run's work items and exit watchers have ended (threads and
// descriptors still for 300 ms); `unreaped`: a child of ours that ended and was never waited for.
struct Held {
    long fds = 0, threads = 0, rssKB = 0, unreaped = 0;
    bool operator==(const Held& o) const { return fds == o.fds && threads == o.threads; }
};
Held settled() {
    Held last;
    for (int quiet = 0, i = 0; quiet < 15 && i < 500; ++i, std::this_thread::sleep_for(20ms)) {
        const auto entries = [](const char* dir) { return long(std::distance(fs::directory_iterator(dir), {})); };
        Held now{entries("/proc/self/fd") - 1, entries("/proc/self/task")};  // less the iterator's own descriptor
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("VmRSS:")) now.rssKB = std::stol(line.substr(6));
        siginfo_t info{};
        now.unreaped = ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
        quiet = now == last ? quiet + 1 : 0;
        last = now;
    }
    return last;
}

void waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(10ms);
}

// `once` for a warm-up, then `times` more while another thread logs (contending for the log's lock): afterwards
// descriptors and threads are back, no child is unreaped, memory grew by under 5 MB, and every log line is whole
// (a time stamp, a level, a message with no second line run into it), at least `lines` of them per run.
void soak(int warmUp, int times, size_t lines, const std::function<void(int)>& once) {
    for (int n = 0; n < warmUp; ++n) once(n);
    const Held before = settled();
    std::atomic<bool> stop{false};
    std::thread chatter([&] {
        while (!stop) Logger::shared().info("soak: a line from another thread"), std::this_thread::sleep_for(5ms);
    });
    for (int n = warmUp; n < warmUp + times && !::testing::Test::HasFailure(); ++n) once(n);
    stop = true, chatter.join();
    const Held after = settled();
    EXPECT_TRUE(after == before) << "fds " << before.fds << " -> " << after.fds << ", threads " << before.threads
                                 << " -> " << after.threads;
    EXPECT_EQ(after.unreaped, 0);
    EXPECT_LT(after.rssKB - before.rssKB, 5 * 1024);
    const std::string log = testsupport::readFile(Logger::logPath());
    const std::regex whole(R"(\[\d\d:\d\d:\d\d\.\d\d\d\] \[(INFO|WARN|ERROR|PERF)\] ((?!\[\d\d:\d\d:\d\d\.)[^\r])*)");
    size_t count = 0;
    for (size_t start = 0, end; start < log.size(); start = end + 1, ++count) {
        end = log.find('\n', start);
        ASSERT_TRUE(end != std::string::npos && std::regex_match(log.substr(start, end - start), whole))
            << log.substr(start);
    }
    EXPECT_GE(count, lines * (warmUp + times));
}

// The pipeline over the real prefix manager and validator; this machine is no Mac, so the OS and CPU checks answer
// as one would, and the disk check says yes.
struct RealServices : SetupPipeline::Services {
    PrefixManager prefix;
    SetupPipeline::Check checkMacOSVersion() override { return {true, "14.5"}; }
    SetupPipeline::Check checkSupportedCPU() override { return {true, "arm64"}; }
    std::optional<std::string> validateBundledDLLs() override { return RuntimeValidator::validateBundledDLLs(); }
    bool wineInstalled() override { return prefix.wineExists(); }
    SetupPipeline::Check checkWineVersion() override { return {prefix.checkWineVersion().valid, ""}; }
    bool prefixExists() override { return prefix.prefixExists(); }
    bool enoughDiskSpace() override { return true; }
    bool createPrefix(const StatusCallback& status) override { return prefix.createPrefix(status); }
    bool mesaDLLsDeployed() override { return prefix.mesaDLLsDeployed(); }
    bool deployMesaDLLs(const StatusCallback& status) override { return prefix.deployMesaDLLs(status); }
    bool steamInstalled() override { return prefix.steamInstalled(); }
    bool isWineRunning() override { return false; }
    bool isSteamReady() override { return false; }
    void installWine(std::function<void(double)>, std::function<void(const DownloadResult&)>) override {}
};

}  // namespace

// With the fake Wine runtime: 50 whole setup runs into fresh prefixes (wineboot, the graphics DLLs and their registry
// overrides, through real child processes and the setup log), then 300 Steam cycles: the button starts the client, a
// poll sees its web helper, and Steam quits (every tenth time the button closes it, ending server and helpers). The
// probe is the process probe alone: the server probe's one-second pause would take a quarter of an hour.
TEST(SoakTest, SetupRunsAndSteamCyclesLeaveNothingBehind) {
    testsupport::TestHome home;
    Logger::shared();  // starts the log
    testsupport::GraphicsBundle bundle(home.bundle());
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    queue.install();
    RealServices services;
    testsupport::RecordingFrontEnd setupScreens;
    LauncherActivity activity;
    SetupPipeline pipeline(services, setupScreens, activity, {[](bool, std::optional<bool>) {}, {}});
    soak(2, 50, 1, [&](int n) {
        fs::remove_all(Constants::prefixPath());
        setupScreens.screens.clear();
        pipeline.validateAndPrepare();
        ASSERT_TRUE(queue.drainUntil([&] { return !pipeline.isRunning(); }, 60s)) << n;
        EXPECT_EQ(setupScreens.screens.back(), "step1") << "run " << n;
        EXPECT_TRUE(services.mesaDLLsDeployed()) << "run " << n;
    });
    EXPECT_EQ(wine.calls("wine").size() % 52, 0u) << "every run ran the same Wine commands";

    testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
    ProcessLauncher launcher;
    testsupport::RecordingFrontEnd frontEnd;
    SteamSessionMonitor::Options options;
    options.isWineRunning = options.isSteamReady = [] { return ProcessLauncher::isAnySteamWebHelperRunning(); };
    options.closePause = 0ms;
    SteamSessionMonitor monitor{launcher, frontEnd, options};
    launcher.setOnExit([&](int32_t) { monitor.onSteamClosed(); });
    const auto idle = [&] { return !monitor.isBusy(); };
    soak(3, 300, 2, [&](int n) {
        frontEnd.screens.clear();
        monitor.onMainButton();
        ASSERT_TRUE(queue.drainUntil([&] { return idle() && launcher.isRunning(); }, 30s)) << n;
        waitFor(ProcessLauncher::isAnySteamWebHelperRunning);  // else a poll would take Steam for gone
        ASSERT_TRUE(queue.drainUntil(
            [&] {  // polls until running
                if (!idle() || monitor.fields().steamPhase == SteamPhase::running) return idle();
                return monitor.updateSteamStatus(), false;
            },
            30s))
            << n;
        n % 10 == 9 ? monitor.onMainButton() : launcher.terminate();
        ASSERT_TRUE(queue.drainUntil([&] { return idle() && !launcher.hasGameProcess(); }, 30s)) << n;
        EXPECT_EQ(frontEnd.screens, (std::vector<std::string>{"launching", "running", "ready"})) << "cycle " << n;
        waitFor([&] { return !wine.serverAlive() && !ProcessLauncher::isAnySteamWebHelperRunning(); });
    });
    EXPECT_EQ(launcher.launchGeneration(), 303);
    platform::MainQueue::setPoster({});
}
