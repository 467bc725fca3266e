#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/MainQueue.h"
#include "wine/SetupPipeline.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsSupersetOf;
using ::testing::Not;

namespace {

// Services whose answers a test sets field by field; every call is recorded
// in the same journal as the screens and log lines, so order can be asserted.
struct FakeServices : SetupPipeline::Services {
    std::vector<std::string>& journal;
    explicit FakeServices(std::vector<std::string>& j) : journal(j) {}

    SetupPipeline::Check os{true, "14.5.0"};
    SetupPipeline::Check cpu{true, "arm64"};
    std::optional<std::string> bundleFault;
    bool wineIsInstalled = true;
    SetupPipeline::Check wine{true, "wine-11.4 (Staging)"};
    bool prefixIsThere = false;
    bool diskSpace = true;
    bool createOK = true;
    bool deployed = false;
    bool deployOK = true;
    bool steam = false;
    bool wineRunning = false;
    bool steamReady = false;
    // What an installation does: the fractions it reports, its outcome, and
    // whether it leaves a usable runtime behind.
    std::vector<double> progress{0.0, 0.5, 1.0};
    DownloadResult installOutcome;
    bool installFixesRuntime = true;
    // When set, the installation's completion waits here for the test.
    bool holdInstall = false;
    std::function<void()> heldCompletion;

    SetupPipeline::Check checkMacOSVersion() override { return note("checkMacOSVersion"), os; }
    SetupPipeline::Check checkSupportedCPU() override { return note("checkSupportedCPU"), cpu; }
    std::optional<std::string> validateBundledDLLs() override { return note("validateBundledDLLs"), bundleFault; }
    bool wineInstalled() override { return note("wineInstalled"), wineIsInstalled; }
    SetupPipeline::Check checkWineVersion() override { return note("checkWineVersion"), wine; }
    bool prefixExists() override { return note("prefixExists"), prefixIsThere; }
    bool enoughDiskSpace() override { return note("enoughDiskSpace"), diskSpace; }
    bool createPrefix(const SetupPipeline::StatusCallback& status) override {
        note("createPrefix");
        status("Creating Wine prefix...");
        prefixIsThere = createOK;
        return createOK;
    }
    bool mesaDLLsDeployed() override { return note("mesaDLLsDeployed"), deployed; }
    bool deployMesaDLLs(const SetupPipeline::StatusCallback& status) override {
        note("deployMesaDLLs");
        status("Copying graphics components...");
        deployed = deployOK;
        return deployOK;
    }
    bool steamInstalled() override { return note("steamInstalled"), steam; }
    bool isWineRunning() override { return note("isWineRunning"), wineRunning; }
    bool isSteamReady() override { return note("isSteamReady"), steamReady; }
    void installWine(std::function<void(double)> onProgress,
                     std::function<void(const DownloadResult&)> completion) override {
        note("installWine");
        for (double f : progress) onProgress(f);
        auto complete = [this, completion] {
            if (!installOutcome && installFixesRuntime) {
                wineIsInstalled = true;
                wine = {true, "wine-11.4 (Staging)"};
            }
            completion(installOutcome);
        };
        // A pipeline that keeps downloading would loop forever here; stop it
        // after a few so the test fails on the count instead of hanging.
        if (holdInstall || count("installWine") > 3) {
            heldCompletion = complete;
        } else {
            complete();
        }
    }

    int count(const std::string& call) const {
        return static_cast<int>(std::count(journal.begin(), journal.end(), "call " + call));
    }

private:
    void note(const std::string& call) { journal.push_back("call " + call); }
};

struct Finished {
    bool wineRunning;
    std::optional<bool> steamReady;
};

// One pipeline under test: a manual main queue, bodies run inline or queued
// for the test to release, and every hook written to the journal.
struct Harness {
    platform::ManualQueue main;
    std::vector<std::string> journal;
    FakeServices services{journal};
    std::vector<std::function<void()>> heldBodies;
    bool holdBodies = false;
    std::optional<Finished> finished;
    std::unique_ptr<SetupPipeline> pipeline;

    Harness() {
        main.install();
        SetupPipeline::Hooks hooks;
        hooks.log = [this](const std::string& level, const std::string& m) { journal.push_back(level + " " + m); };
        hooks.showLoading = [this](const std::string& m) { journal.push_back("screen loading " + m); };
        hooks.showStep1 = [this] { journal.push_back("screen step1"); };
        hooks.showError = [this](const std::string& m) {
            journal.push_back("ERROR " + m);
            journal.push_back("screen error " + m);
        };
        hooks.showDownload = [this] { journal.push_back("screen download"); };
        hooks.showDownloadProgress = [this](double, const std::string& status) {
            journal.push_back("progress " + status);
        };
        hooks.setupFinished = [this](bool wine, std::optional<bool> ready) {
            finished = Finished{wine, ready};
            journal.push_back("finished");
        };
        pipeline = std::make_unique<SetupPipeline>(services, hooks, [this](std::function<void()> body) {
            if (holdBodies) {
                heldBodies.push_back(std::move(body));
            } else {
                body();
            }
        });
    }
    ~Harness() { platform::MainQueue::setPoster({}); }

    void run() {
        pipeline->validateAndPrepare();
        main.drain();
    }
    std::vector<std::string> screens() const { return with("screen "); }
    std::vector<std::string> with(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& line : journal) {
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
        }
        return out;
    }
    bool saw(const std::string& line) const { return std::find(journal.begin(), journal.end(), line) != journal.end(); }
};

TEST(SetupPipelineTest, FirstStartDownloadsThenRunsAgainAndEndsOnStepOne) {
    Harness h;
    h.services.wineIsInstalled = false;
    h.run();

    EXPECT_THAT(h.screens(),
                ElementsAre("screen loading Checking system...", "screen download", "screen loading Checking system...",
                            "screen loading Preparing environment...", "screen loading Creating Wine prefix...",
                            "screen loading Installing components...", "screen loading Copying graphics components...",
                            "screen step1"));
    EXPECT_THAT(h.with("progress "),
                ElementsAre("progress Setting up... 0%", "progress Setting up... 50%", "progress Setting up... 100%"));
    // The system checks are repeated after the download.
    EXPECT_EQ(h.services.count("checkMacOSVersion"), 2);
    EXPECT_EQ(h.services.count("installWine"), 1);
    EXPECT_THAT(h.with("INFO "),
                IsSupersetOf({"INFO Wine runtime not found, downloading...",
                              "INFO Wine download complete, continuing setup", "INFO Wine: wine-11.4 (Staging) (true)",
                              "INFO Mesa DLLs: false", "INFO \u2192 Step 1: Install Steam"}));
    ASSERT_EQ(h.with("PERF ").size(), 1u) << "the hand-off to the download writes no PERF line";
    EXPECT_THAT(h.with("PERF ")[0], testing::MatchesRegex("PERF Validation: [0-9]+\\.[0-9]s"));
    EXPECT_THAT(h.with("ERROR "), testing::IsEmpty());
    EXPECT_FALSE(h.pipeline->isRunning());
    EXPECT_FALSE(h.finished);
}

TEST(SetupPipelineTest, LaterStartSkipsDiskCheckAndCreation) {
    struct Case {
        const char* name;
        bool wineRunning;
        bool steamReady;
        std::optional<bool> expectedReady;
    };
    for (const Case& c : {Case{"nothing running", false, false, std::nullopt}, Case{"steam ready", true, true, true},
                          Case{"steam launching", true, false, false}}) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.services.prefixIsThere = true;
        h.services.deployed = true;
        h.services.steam = true;
        h.services.wineRunning = c.wineRunning;
        h.services.steamReady = c.steamReady;
        h.run();

        EXPECT_THAT(h.screens(), ElementsAre("screen loading Checking system..."));
        EXPECT_EQ(h.services.count("enoughDiskSpace"), 0);
        EXPECT_EQ(h.services.count("createPrefix"), 0);
        EXPECT_EQ(h.services.count("isSteamReady"), c.wineRunning ? 1 : 0);
        ASSERT_TRUE(h.finished);
        EXPECT_EQ(h.finished->wineRunning, c.wineRunning);
        EXPECT_EQ(h.finished->steamReady, c.expectedReady);
        EXPECT_TRUE(h.saw("INFO Mesa DLLs: true"));
        EXPECT_FALSE(h.pipeline->isRunning());
    }
}

TEST(SetupPipelineTest, EachFailureShowsItsTextAndStopsThere) {
    struct Case {
        const char* name;
        std::function<void(FakeServices&)> arrange;
        std::string shown;
        std::string logged;       // a further line that must be in the journal
        std::string neverCalled;  // a later step that must not run
    };
    std::vector<Case> cases = {
        {"old macOS",
         [](FakeServices& s) {
             s.os = {false, "13.6.1"};
         },
         "macOS 14.0 or later is required.\nYour version: 13.6.1", "INFO macOS: 13.6.1 (false)", "checkSupportedCPU"},
        {"intel cpu",
         [](FakeServices& s) {
             s.cpu = {false, "x86_64"};
         },
         "This Mac is not supported.\nApple Silicon (M1/M2/M3/M4) required.", "INFO CPU: x86_64 (false)",
         "validateBundledDLLs"},
        {"broken bundle", [](FakeServices& s) { s.bundleFault = "Missing bundled DLL: mesa-x86_64/opengl32.dll"; },
         "Installation incomplete.\nPlease reinstall Ferrowick.",
         "ERROR Bundle: Missing bundled DLL: mesa-x86_64/opengl32.dll", "wineInstalled"},
        {"no space before creation", [](FakeServices& s) { s.diskSpace = false; }, "Not enough disk space.",
         "call enoughDiskSpace", "createPrefix"},
        {"no space before deployment",
         [](FakeServices& s) {
             s.prefixIsThere = true;
             s.diskSpace = false;
         },
         "Not enough disk space.", "INFO Mesa DLLs: false", "deployMesaDLLs"},
        {"creation fails", [](FakeServices& s) { s.createOK = false; }, "Setup failed.\nPlease try again.",
         "screen loading Preparing environment...", "mesaDLLsDeployed"},
        {"deployment fails", [](FakeServices& s) { s.deployOK = false; },
         "Setup failed.\nPlease try again or use Repair.", "screen loading Installing components...", "steamInstalled"},
    };
    const std::vector<std::pair<DownloadError, std::string>> downloadFailures = {
        {DownloadError::networkError("Could not resolve host"),
         "Setup failed.\nPlease check your internet connection."},
        {DownloadError::extractionFailed("tar exited with 2"), "Setup failed.\nPlease try again."},
        {DownloadError::versionMismatch("wine-9.0"), "Setup failed.\nPlease try again."},
        {DownloadError::checksumMismatch(), "Setup verification failed.\nPlease try again."},
        {DownloadError::diskSpaceLow(), "Not enough disk space.\nAt least 2 GB free space required."},
    };
    for (const auto& [error, shown] : downloadFailures) {
        cases.push_back({"download fails",
                         [error = error](FakeServices& s) {
                             s.wineIsInstalled = false;
                             s.installOutcome = error;
                         },
                         shown, "screen download", "prefixExists"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        c.arrange(h.services);
        h.run();
        EXPECT_EQ(h.screens().back(), "screen error " + c.shown);
        EXPECT_TRUE(h.saw("ERROR " + c.shown));
        EXPECT_TRUE(h.saw(c.logged));
        EXPECT_EQ(h.services.count(c.neverCalled), 0);
        EXPECT_TRUE(h.with("PERF ").empty());
        EXPECT_FALSE(h.pipeline->isRunning()) << "a failed run must not block the next one";
    }
}

TEST(SetupPipelineTest, WrongVersionDownloadsAgainOnce) {
    Harness h;
    h.services.wine = {false, "wine-9.0"};
    h.run();
    EXPECT_TRUE(h.saw("INFO Wine: wine-9.0 (false)"));
    EXPECT_TRUE(h.saw("INFO Wine version mismatch (wine-9.0), re-downloading..."));
    EXPECT_EQ(h.services.count("installWine"), 1);
    EXPECT_EQ(h.screens().back(), "screen step1");
}

TEST(SetupPipelineTest, RuntimeStillUnusableAfterDownloadEndsInsteadOfLooping) {
    struct Case {
        const char* name;
        bool stillMissing;
    };
    for (const Case& c : {Case{"isInstalled still false", true}, Case{"version still wrong", false}}) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.services.wine = {false, "wine-8.0.2"};
        h.services.installFixesRuntime = false;
        h.services.wineIsInstalled = !c.stillMissing;
        h.run();
        EXPECT_EQ(h.services.count("installWine"), 1);
        EXPECT_EQ(h.screens().back(), "screen error Setup failed.\nPlease try again.");
        const auto errors = h.with("ERROR ");
        ASSERT_FALSE(errors.empty());
        EXPECT_THAT(errors.front(), HasSubstr("wine-8.0.2"));
        EXPECT_FALSE(h.pipeline->isRunning());
        // A later request in the same process does not download either.
        h.run();
        EXPECT_EQ(h.services.count("installWine"), 1);
    }
}

TEST(SetupPipelineTest, SecondRequestWhileBodyRunsIsIgnoredAndLogged) {
    Harness h;
    h.holdBodies = true;
    h.pipeline->validateAndPrepare();
    h.pipeline->validateAndPrepare();
    EXPECT_EQ(h.heldBodies.size(), 1u);
    EXPECT_THAT(h.with("INFO "), Contains(std::string("INFO ") + SetupPipeline::kIgnoredWhileRunning));
    EXPECT_THAT(h.screens(), ElementsAre("screen loading Checking system..."));

    h.heldBodies[0]();
    // Still running until the outcome has reached the main thread.
    h.pipeline->validateAndPrepare();
    EXPECT_EQ(h.heldBodies.size(), 1u);
    h.main.drain();
    EXPECT_FALSE(h.pipeline->isRunning());

    h.pipeline->validateAndPrepare();
    EXPECT_EQ(h.heldBodies.size(), 2u) << "a finished run lets the next one start";
}

TEST(SetupPipelineTest, RequestDuringDownloadIsIgnored) {
    Harness h;
    h.services.wineIsInstalled = false;
    h.services.holdInstall = true;
    h.run();
    EXPECT_EQ(h.screens().back(), "screen download");
    ASSERT_TRUE(h.services.heldCompletion);
    EXPECT_TRUE(h.pipeline->isRunning());

    h.run();
    EXPECT_EQ(h.services.count("installWine"), 1);
    EXPECT_EQ(h.services.count("checkMacOSVersion"), 1);
    EXPECT_TRUE(h.saw(std::string("INFO ") + SetupPipeline::kIgnoredWhileRunning));

    h.services.heldCompletion();
    h.main.drain();
    EXPECT_EQ(h.services.count("checkMacOSVersion"), 2);
    EXPECT_EQ(h.screens().back(), "screen step1");
    EXPECT_FALSE(h.pipeline->isRunning());
}

TEST(SetupPipelineTest, ProgressTextTruncatesAndStaysInRange) {
    struct Case {
        double fraction;
        const char* text;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Case& c :
         {Case{0.0, "Setting up... 0%"}, Case{0.425, "Setting up... 42%"}, Case{0.999, "Setting up... 99%"},
          Case{0.9999999, "Setting up... 99%"}, Case{1.0, "Setting up... 100%"}, Case{1.7, "Setting up... 100%"},
          Case{-0.2, "Setting up... 0%"}, Case{nan, "Setting up... 0%"}}) {
        EXPECT_EQ(SetupPipeline::progressText(c.fraction), c.text) << c.fraction;
    }
}

TEST(SetupPipelineTest, ValidationPerfTextHasOneDecimal) {
    EXPECT_EQ(SetupPipeline::validationPerfText(3.24), "Validation: 3.2s");
    EXPECT_EQ(SetupPipeline::validationPerfText(0.0), "Validation: 0.0s");
    EXPECT_EQ(SetupPipeline::validationPerfText(59.96), "Validation: 60.0s");
}

}  // namespace
