#include <gtest/gtest.h>

#include <cmath>

#include "controller/SetupPipeline.h"
#include "platform/MainQueue.h"

namespace {

using Check = SetupPipeline::Check;

// The pipeline over services that answer from fields. Calls, screens and log
// lines go into one journal; bodies run inline unless held.
struct Harness : SetupPipeline::Services {
    Check os{true, "14.5"}, cpu{true, "arm64"}, wine{true, "wine-11.4 (Staging)"};
    bool wineThere = true, prefix = false, space = true, deployed = false;
    bool steam = false, wineRunning = false, steamReady = true;
    bool downloadRepairs = true, holdBodies = false, holdDownload = false;
    std::vector<std::function<void()>> heldBodies;
    std::function<void()> heldDownload;
    std::vector<std::string> journal;
    platform::ManualQueue main;
    LauncherActivity activity;
    std::unique_ptr<SetupPipeline> pipeline;

    Check checkMacOSVersion() override { return call("os"), os; }
    Check checkSupportedCPU() override { return call("cpu"), cpu; }
    std::optional<std::string> validateBundledDLLs() override { return call("bundle"), std::nullopt; }
    bool wineInstalled() override { return call("wineInstalled"), wineThere; }
    Check checkWineVersion() override { return call("version"), wine; }
    bool prefixExists() override { return prefix; }
    bool enoughDiskSpace() override { return call("space"), space; }
    bool createPrefix(const SetupPipeline::StatusCallback& status) override {
        return call("create"), status("Creating Wine prefix..."), prefix = true;
    }
    bool mesaDLLsDeployed() override { return deployed; }
    bool deployMesaDLLs(const SetupPipeline::StatusCallback&) override { return call("deploy"), deployed = true; }
    bool steamInstalled() override { return call("steam"), steam; }
    bool isWineRunning() override { return wineRunning; }
    bool isSteamReady() override { return steamReady; }
    void installWine(std::function<void(double)> progress,
                     std::function<void(const DownloadResult&)> completion) override {
        call("download");
        progress(0.5);
        heldDownload = [this, completion] {
            if (downloadRepairs) wineThere = true, wine = {true, "wine-11.4 (Staging)"};
            completion(std::nullopt);
        };
        if (!holdDownload && count("call download") < 3) heldDownload();  // a loop fails on the count, not a hang
    }

    Harness() {
        main.install();
        SetupPipeline::Hooks hooks;
        hooks.log = [this](const std::string& level, const std::string& m) { note(level + " " + m); };
        hooks.showLoading = [this](const std::string& m) { note("screen " + m); };
        hooks.showStep1 = [this] { note("screen step1"); };
        hooks.showError = [this](const std::string& m) { note("error " + m); };
        hooks.showDownload = [this] { note("screen download"); };
        hooks.showDownloadProgress = [this](double, const std::string& text) { note("screen " + text); };
        hooks.setupFinished = [this](bool wine, std::optional<bool> ready) {
            note("finished " + std::to_string(wine) + (ready ? std::to_string(*ready) : "-"));
        };
        hooks.recoverInterruptedRepair = [this] { note("recover"); };
        pipeline = std::make_unique<SetupPipeline>(*this, activity, hooks, [this](std::function<void()> body) {
            holdBodies ? heldBodies.push_back(body) : body();
        });
    }
    ~Harness() override { platform::MainQueue::setPoster({}); }
    void run() {
        pipeline->validateAndPrepare();
        main.drain();
    }
    void note(const std::string& line) { journal.push_back(line); }
    void call(const std::string& what) { note("call " + what); }
    int count(const std::string& line) const { return int(std::count(journal.begin(), journal.end(), line)); }
};

}  // namespace

// Each run ends on its last screen (or hands Steam's probes to the session)
// without reaching the step named; a failed run never blocks the next one.
TEST(SetupPipelineTest, EachRunEndsOnItsScreenAndStopsThere) {
    struct Case {
        std::function<void(Harness&)> arrange;
        std::string last, neverCalled;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {[](Harness& h) { h.os = {false, "13.6.1"}; }, "error macOS 14.0 or later is required.\nYour version: 13.6.1",
         "call cpu"},
        {[](Harness& h) { h.cpu = {false, "x86_64"}; },
         "error This Mac is not supported.\nApple Silicon (M1/M2/M3/M4) required.", "call bundle"},
        // (The other failure ends run whole in the journeys' golden logs.)
        {[](Harness& h) { h.prefix = true, h.space = false; }, "error Not enough disk space.", "call deploy"},
        // A later start: nothing to write, so no disk check; readiness is only probed while Wine runs.
        {[](Harness& h) { h.prefix = h.deployed = h.steam = true; }, "finished 0-", "call space"},
        {[](Harness& h) { h.prefix = h.deployed = h.steam = h.wineRunning = true; }, "finished 11", "call space"},
        {[](Harness& h) { h.prefix = h.deployed = h.steam = h.wineRunning = true, h.steamReady = false; },
         "finished 10", "call space"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.last);
        Harness h;
        c.arrange(h);
        h.run();
        EXPECT_EQ(h.journal.back(), c.last);
        EXPECT_EQ(h.count(c.neverCalled), 0);
        EXPECT_FALSE(h.pipeline->isRunning());
    }
}

// A runtime is downloaded at most once per process: one still missing or of
// the wrong version afterwards ends setup instead of downloading forever.
TEST(SetupPipelineTest, AWrongRuntimeIsDownloadedOnceAndNeverAgain) {
    for (const bool repaired : {true, false}) {
        for (const bool missing : {true, false}) {
            SCOPED_TRACE(std::string(repaired ? "repaired" : "still unusable") + (missing ? ", missing" : ""));
            Harness h;
            h.wineThere = !missing;
            h.wine = {false, "wine-8.0.2"};
            h.downloadRepairs = repaired;
            h.run();
            EXPECT_EQ(h.count("call download"), 1);
            EXPECT_EQ(h.count("call os"), 2) << "the whole pipeline runs again after the download";
            EXPECT_EQ(h.journal.back(), repaired ? "screen step1" : "error Setup failed.\nPlease try again.");
            EXPECT_EQ(h.count("ERROR Wine runtime still unusable after download, found version: wine-8.0.2"),
                      !repaired);
            h.run();
            EXPECT_EQ(h.count("call download"), 1);
        }
    }
}

TEST(SetupPipelineTest, ARequestWhileARunIsUnderWayIsIgnoredAndLogged) {
    Harness h;
    h.holdBodies = true;
    h.run();
    h.run();
    EXPECT_EQ(h.heldBodies.size(), 1u);
    EXPECT_EQ(h.count("INFO Setup already in progress, request ignored"), 1);
    h.heldBodies[0]();  // the run lasts until its outcome has reached the main thread
    h.run();
    EXPECT_EQ(h.heldBodies.size(), 1u);
    EXPECT_FALSE(h.pipeline->isRunning());

    // Through the download too: a second request must not restart it.
    h.holdBodies = false;
    h.wineThere = false;
    h.holdDownload = true;
    h.run();
    h.run();
    EXPECT_EQ(h.count("call download"), 1);
    h.heldDownload();
    h.main.drain();
    EXPECT_EQ(h.journal.back(), "screen step1");
    EXPECT_FALSE(h.pipeline->isRunning());
    // Only the first body of the process looks for an interrupted repair, first thing.
    const auto first = [&](const std::string& line) { return std::find(h.journal.begin(), h.journal.end(), line); };
    EXPECT_LT(first("recover"), first("INFO --- Validation started ---"));
    EXPECT_EQ(h.count("recover"), 1);

    // Nor does setup start beside another activity that writes into the prefix.
    ASSERT_TRUE(h.activity.tryEnter(LauncherActivity::Kind::repairing));
    h.run();
    EXPECT_EQ(h.journal.back(), "INFO Repair already in progress, request ignored");
    EXPECT_EQ(h.activity.current(), LauncherActivity::Kind::repairing);
}

// What the user reads for each download failure and while the runtime comes; a NaN or
// out-of-range fraction must never reach the integer conversion.
TEST(SetupPipelineTest, DownloadTexts) {
    // (A network failure and a digest mismatch end journeys with golden logs.)
    const std::pair<DownloadError, const char*> errors[] = {
        {DownloadError::extractionFailed("tar exit code 2"), "Setup failed.\nPlease try again."},
        {DownloadError::versionMismatch("x"), "Setup failed.\nPlease try again."},
        {DownloadError::diskSpaceLow(), "Not enough disk space.\nAt least 2 GB free space required."}};
    for (const auto& [error, text] : errors) EXPECT_EQ(SetupPipeline::downloadErrorText(error), text);
    for (const auto& [fraction, percent] : std::vector<std::pair<double, const char*>>{
             {0.425, "42"}, {0.999, "99"}, {1.7, "100"}, {-0.2, "0"}, {std::nan(""), "0"}}) {
        EXPECT_EQ(SetupPipeline::progressText(fraction), std::string("Setting up... ") + percent + "%") << fraction;
    }
}
