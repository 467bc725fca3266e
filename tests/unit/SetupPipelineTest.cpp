#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "controller/SetupPipeline.h"
#include "platform/MainQueue.h"
#include "support/LogTail.h"

namespace {

using Check = SetupPipeline::Check;

// Services that answer from fields, and a front end; calls and screens go into one journal, log lines into the
// test's launcher log. Bodies run inline unless held.
struct Harness : SetupPipeline::Services, FrontEnd {
    // One HOME for the process: the launcher log's path is fixed at its first use.
    static testsupport::TestHome& home() {
        static testsupport::TestHome home;
        return home;
    }
    testsupport::LogTail log = (home(), testsupport::LogTail());
    Check os{true, "14.5"}, cpu{true, "arm64"}, wine{true, "wine-11.4 (Staging)"};
    bool wineThere = true, prefix = false, space = true, deployed = false, steam = false, wineRunning = false;
    bool steamReady = true, downloadRepairs = true, holdBodies = false, holdDownload = false;
    std::vector<std::function<void()>> heldBodies;
    std::function<void()> heldDownload;
    std::vector<std::string> journal;
    platform::ManualQueue main;
    LauncherActivity activity;
    std::unique_ptr<SetupPipeline> pipeline;

    Check checkMacOSVersion() override { return note("call os"), os; }
    Check checkSupportedCPU() override { return note("call cpu"), cpu; }
    std::optional<std::string> validateBundledDLLs() override { return note("call bundle"), std::nullopt; }
    bool wineInstalled() override { return wineThere; }
    Check checkWineVersion() override { return wine; }
    bool prefixExists() override { return prefix; }
    bool enoughDiskSpace() override { return note("call space"), space; }
    bool createPrefix(const StatusCallback&) override { return prefix = true; }
    bool mesaDLLsDeployed() override { return deployed; }
    bool deployMesaDLLs(const StatusCallback&) override { return deployed = true; }
    bool steamInstalled() override { return steam; }
    bool isWineRunning() override { return wineRunning; }
    bool isSteamReady() override { return steamReady; }
    void installWine(std::function<void(double)>, std::function<void(const DownloadResult&)> done) override {
        note("call download");
        heldDownload = [this, done] {
            if (downloadRepairs) wineThere = true, wine = {true, "wine-11.4 (Staging)"};
            done(std::nullopt);
        };
        if (!holdDownload && count("call download") < 3) heldDownload();  // a loop fails on the count, not a hang
    }

    void showLoading(const std::string& status) override { note(status); }
    void showStep1() override { note("step1"); }
    void showSteamReady() override { note("ready"); }
    void showSteamLaunching() override {}
    void showSteamRunning() override {}
    void showSteamLaunchFailed() override {}
    void showError(const std::string& message) override { note(message); }
    void setStatusText(const std::string&) override {}
    void showDownload() override {}
    void showDownloadProgress(double, const std::string&) override {}
    bool eulaAccepted() const override { return true; }

    Harness() {
        main.install();
        SetupPipeline::Handoffs handoffs{
            [this](bool wine, std::optional<bool> ready) {
                note("finished " + std::to_string(wine) + (ready ? std::to_string(*ready) : "-"));
            },
            // Noted with whether the run had begun its log by then.
            [this] { note(logged("INFO --- Validation started ---") ? "recover late" : "recover"); }};
        pipeline = std::make_unique<SetupPipeline>(
            *this, *this, activity, std::move(handoffs),
            [this](std::function<void()> body) { holdBodies ? heldBodies.push_back(body) : body(); });
    }
    ~Harness() override { platform::MainQueue::setPoster({}); }
    void run() { pipeline->validateAndPrepare(), main.drain(); }
    void note(const std::string& line) { journal.push_back(line); }
    int count(const std::string& line) const { return int(std::count(journal.begin(), journal.end(), line)); }
    // How often the launcher log has the entry "LEVEL message" since the harness was made.
    int logged(const std::string& entry) const {
        const std::string all = "|" + log.entries();
        int n = 0;
        for (size_t at = all.find("|" + entry + "|"); at != std::string::npos; at = all.find("|" + entry + "|", at + 1))
            ++n;
        return n;
    }
};

}  // namespace

// Endings no journey reaches: failed system checks, and a later start, which writes nothing (no disk check) and
// probes readiness only while Wine runs.
TEST(SetupPipelineTest, EachRunEndsOnItsScreenAndStopsThere) {
    // clang-format off
    const std::vector<std::tuple<std::function<void(Harness&)>, std::string, std::string>> cases = {
        {[](Harness& h) { h.os = {false, "13.6.1"}; }, "macOS 14.0 or later is required.\nYour version: 13.6.1", "call cpu"},
        {[](Harness& h) { h.cpu = {false, "x86_64"}; }, "This Mac is not supported.\nApple Silicon (M1/M2/M3/M4) required.",
         "call bundle"},
        {[](Harness& h) { h.prefix = h.deployed = h.steam = true; }, "finished 0-", "call space"},
        {[](Harness& h) { h.prefix = h.deployed = h.steam = h.wineRunning = true; }, "finished 11", "call space"},
        {[](Harness& h) { h.prefix = h.deployed = h.steam = h.wineRunning = true, h.steamReady = false; }, "finished 10",
         "call space"},
    };
    // clang-format on
    for (const auto& [arrange, last, neverCalled] : cases) {
        SCOPED_TRACE(last);
        Harness h;
        arrange(h);
        h.run();
        EXPECT_EQ(h.journal.back(), last);
        EXPECT_EQ(h.count(neverCalled), 0);
        EXPECT_FALSE(h.pipeline->isRunning());
    }
}

// A runtime missing or of the wrong version is downloaded once per process, then setup runs whole again;
// one still unusable afterwards ends setup instead of downloading forever.
TEST(SetupPipelineTest, AWrongRuntimeIsDownloadedOnceAndNeverAgain) {
    for (const bool repaired : {true, false}) {
        for (const bool missing : {true, false}) {
            SCOPED_TRACE(std::to_string(repaired) + std::to_string(missing));
            Harness h;
            h.wineThere = !missing, h.wine = {false, "wine-8.0.2"}, h.downloadRepairs = repaired;
            h.run();
            h.run();
            EXPECT_EQ(h.count("call download"), 1);
            EXPECT_EQ(h.count("call os"), 3) << "the whole pipeline runs again after the download";
            EXPECT_EQ(h.journal.back(), repaired ? "step1" : "Setup failed.\nPlease try again.");
            EXPECT_EQ(h.logged("ERROR Wine runtime still unusable after download, found version: wine-8.0.2"),
                      repaired ? 0 : 2);
        }
    }
}

// One run at a time, through the download too; only the process's first body looks for an interrupted repair.
TEST(SetupPipelineTest, ARequestWhileARunIsUnderWayIsIgnoredAndLogged) {
    Harness h;
    h.holdBodies = true;
    h.run(), h.run();
    EXPECT_EQ(h.heldBodies.size(), 1u);
    EXPECT_EQ(h.logged("INFO Setup already in progress, request ignored"), 1);
    h.heldBodies[0]();  // the run lasts until its outcome has reached the main thread
    h.run();
    EXPECT_EQ(h.heldBodies.size(), 1u);

    h.holdBodies = false, h.wineThere = false, h.holdDownload = true;
    h.run(), h.run();
    EXPECT_EQ(h.count("call download"), 1);
    h.heldDownload();
    h.main.drain();
    EXPECT_EQ(h.journal.back(), "step1");
    EXPECT_FALSE(h.pipeline->isRunning());
    EXPECT_EQ(h.count("recover"), 1);
    EXPECT_EQ(h.count("recover late"), 0);

    ASSERT_TRUE(h.activity.tryEnter(LauncherActivity::Kind::repairing));  // nor beside a repair
    h.run();
    EXPECT_TRUE(h.log.entries().ends_with("|INFO Repair already in progress, request ignored|"));
    EXPECT_EQ(h.activity.current(), LauncherActivity::Kind::repairing);
}

// The screens of download failures no journey reaches, and the progress text: a NaN or out-of-range
// fraction must never reach the integer conversion.
TEST(SetupPipelineTest, DownloadTexts) {
    EXPECT_EQ(SetupPipeline::downloadErrorText(DownloadError::extractionFailed("tar exit code 2")),
              "Setup failed.\nPlease try again.");
    EXPECT_EQ(SetupPipeline::downloadErrorText(DownloadError::diskSpaceLow()),
              "Not enough disk space.\nAt least 2 GB free space required.");
    for (const auto& [fraction, percent] : std::vector<std::pair<double, const char*>>{
             {0.425, "42"}, {0.999, "99"}, {1.7, "100"}, {-0.2, "0"}, {std::nan(""), "0"}})
        EXPECT_EQ(SetupPipeline::progressText(fraction), std::string("Setting up... ") + percent + "%") << fraction;
}

// The controller's "main thread only" operations are checked in test builds: from any thread but the one that
// installed the main queue, they abort naming themselves.
TEST(SetupPipelineTest, MainThreadOperationsAbortElsewhere) {
    Harness h;
    const auto elsewhere = [](const std::function<void()>& call) { std::thread(call).join(); };
    EXPECT_DEATH(elsewhere([&] { h.pipeline->validateAndPrepare(); }),
                 "^validateAndPrepare: main thread only, called on another thread\n");
    EXPECT_DEATH(elsewhere([&] { (void)h.activity.tryEnter(LauncherActivity::Kind::repairing); }),
                 "^tryEnter: main thread only, called on another thread\n");
    h.run();  // on the thread that installed the queue it runs to its end
    EXPECT_EQ(h.count("step1"), 1);
}
