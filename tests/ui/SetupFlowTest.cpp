// Whole runs of the launcher against the fake Wine runtime: the first start
// through the runtime download, later starts, a dropped installer, repair.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>

#include "platform/Sha256.h"
#include "platform/Subprocess.h"
#include "support/FakeWine.h"
#include "support/GraphicsBundle.h"
#include "support/HttpTestServer.h"
#include "ui/UiSupport.h"

namespace fs = std::filesystem;
using uitest::inOrder;
using Texts = std::vector<std::string>;

namespace {

const std::string kStep1 = "Step 1: Install Steam\nDownload Steam for Windows (.exe),\nthen drag the installer below.";
const std::string kReady = "Launch Quillmoor from\nyour Steam Library.", kChecking = "Checking system...";
const std::string kDownloading = "First-time setup in progress.\nThis may take a few minutes.";

// A launcher past the agreement, with the bundle's graphics DLLs and the fake Wine runtime.
struct SetupRun {
    SetupRun() { testsupport::writeFile(Constants::eulaAcceptedFile(), ""); }
    void prepareSteam() {
        PrefixManager prefix;
        ASSERT_TRUE(prefix.createPrefix(nullptr) && prefix.deployMesaDLLs(nullptr));
        testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
    }
    bool endsOn(const std::string& text) {
        return uitest::pumpUntil([&] { return screens.texts.back() == text; });
    }
    uitest::Launcher launcher;
    testsupport::GraphicsBundle bundle{launcher.home.bundle()};
    testsupport::FakeWine wine;
    uitest::StatusRecorder screens{launcher.d()};
};

struct FirstStartCase {
    std::string name;
    bool rightDigest, enoughSpace;
    Texts screens, log;
};
// clang-format off
const std::vector<FirstStartCase> kFirstStarts = {
    {"installs", true, true,
     {kChecking, kDownloading, "Setting up... *", kChecking, "Preparing environment...", "Creating Wine prefix...",
      "Installing components...", "Configuring environment...", kStep1},
     {"INFO Wine runtime not found, downloading...", "INFO Wine download complete, continuing setup", "INFO macOS: *",
      "INFO Wine: wine-11.4 (Staging) (true)", "INFO Mesa DLLs: false", "PERF Validation: *",
      "INFO \u2192 Step 1: Install Steam"}},
    {"wrong_digest", false, true, {kChecking, kDownloading, "Setup verification failed.\nPlease try again."},
     {"INFO Wine runtime not found, downloading...", "ERROR Setup verification failed."}},
    {"low_disk_space", true, false, {kChecking, kDownloading, kChecking, "Not enough disk space."},
     {"INFO Wine download complete, continuing setup", "ERROR Not enough disk space."}},
};
// clang-format on

class FirstStart : public ::testing::TestWithParam<size_t> {};

}  // namespace

TEST_P(FirstStart, DownloadsTheRuntimeThenRunsSetupAgain) {
    const FirstStartCase& c = kFirstStarts[GetParam()];
    SetupRun run;
    // The fake runtime packed the way the runtime archive is laid out; only the download brings it back.
    const std::string tree = run.launcher.home.tmp() + "/tree", archive = run.launcher.home.tmp() + "/wine.tar.xz";
    fs::create_directories(tree + "/Wine Staging.app/Contents/Resources");
    fs::copy(Constants::wineDir(), tree + "/Wine Staging.app/Contents/Resources/wine", fs::copy_options::recursive);
    const auto packed = platform::Subprocess::run(
        {"/usr/bin/tar", {"-cJf", archive, "-C", tree, "Wine Staging.app"}, {{"PATH", "/usr/bin:/bin"}}});
    ASSERT_TRUE(packed && packed->exit.status == 0);
    fs::remove_all(Constants::wineDir());
    testsupport::HttpTestServer::Options served;
    served.filePath = archive;
    testsupport::HttpTestServer server(served);
    auto settings = WineDownloader::Settings::defaults();
    settings.downloadURL = server.url();
    settings.expectedSHA256 = c.rightDigest ? platform::Sha256::hex(testsupport::readFile(archive)) : "00";
    run.launcher.d().wineDownloader = std::make_unique<WineDownloader>(settings);
    std::atomic<int> spaceChecks = 0;
    run.launcher.d().checkDiskSpace = [&](const std::string& path, int64_t gb) {
        return ++spaceChecks, path == Constants::supportDir() && gb == 2 && c.enoughSpace;
    };

    run.launcher.launch();
    ASSERT_TRUE(run.endsOn(c.screens.back()));
    EXPECT_TRUE(inOrder(run.screens.texts, c.screens)) << ::testing::PrintToString(run.screens.texts);
    EXPECT_TRUE(inOrder(uitest::logLines(), c.log)) << ::testing::PrintToString(uitest::logLines());
    EXPECT_EQ(spaceChecks, c.rightDigest ? 1 + c.enoughSpace : 0);
}

INSTANTIATE_TEST_SUITE_P(SetupFlow, FirstStart, ::testing::Range<size_t>(0, kFirstStarts.size()),
                         [](const auto& info) { return kFirstStarts[info.param].name; });

namespace {

struct LaterCase {
    std::string name;
    const char* helperDelay;  // of a Steam still running; nullptr: none runs
    std::string screen;
    SteamPhase phase;
};
const std::vector<LaterCase> kLaterStarts = {
    {"nothing_running", nullptr, kReady, SteamPhase::ready},
    {"steam_ready", "0", "Steam is running.\nPlay Quillmoor from your Library.", SteamPhase::running},
    {"steam_launching", "never", "Steam launching...", SteamPhase::launching},
};

class LaterStart : public ::testing::TestWithParam<size_t> {};

}  // namespace

// A later start probes for a Steam left running and goes to its screen, without a disk check.
TEST_P(LaterStart, GoesStraightToTheSteamScreen) {
    const LaterCase& c = kLaterStarts[GetParam()];
    SetupRun run;
    run.prepareSteam();
    std::unique_ptr<platform::Subprocess> steam;
    if (c.helperDelay) {
        run.wine.set("steam.helper_delay", c.helperDelay);
        steam = platform::Subprocess::start({Constants::wineBin(),
                                             {Constants::steamExePath},
                                             Constants::buildSafeEnvironment(Constants::prefixPath())})
                    .process;
        ASSERT_TRUE(uitest::pumpUntil([&] {
            return run.wine.serverAlive() &&
                   (c.phase != SteamPhase::running || ProcessLauncher::isAnySteamWebHelperRunning());
        }));
    }
    int spaceChecks = 0;
    run.launcher.d().checkDiskSpace = [&](const std::string&, int64_t) { return ++spaceChecks > 0; };
    const auto before = SteamSessionRules::Clock::now();
    run.launcher.launch();
    ASSERT_TRUE(run.endsOn(c.screen));
    EXPECT_EQ(run.screens.texts, (Texts{kChecking, c.screen}));
    EXPECT_EQ(spaceChecks, 0);
    const auto& fields = run.launcher.d().steamSession().fields();
    EXPECT_EQ(fields.steamPhase, c.phase);
    EXPECT_EQ(fields.steamLaunchStartedAt.has_value(), c.phase == SteamPhase::launching);
    EXPECT_GE(fields.steamLaunchStartedAt.value_or(before), before);
    run.launcher.d().applicationWillTerminate();
}

INSTANTIATE_TEST_SUITE_P(SetupFlow, LaterStart, ::testing::Range<size_t>(0, kLaterStarts.size()),
                         [](const auto& info) { return kLaterStarts[info.param].name; });

class DroppedInstaller : public ::testing::TestWithParam<bool> {};

TEST_P(DroppedInstaller, EndsOnReadyOrOnStepOneWithTheNotDetectedText) {
    SetupRun run;
    run.launcher.buildWindow();
    run.wine.set("run.steam", GetParam() ? "1" : "0");
    const std::string dropped = run.launcher.home.tmp() + "/Steam Setup $1;.exe";
    testsupport::writeFile(dropped, "MZ");
    run.launcher.d().handleDroppedInstaller(dropped);
    const std::string end = GetParam() ? kReady : "Steam was not detected after installation.\nPlease try again.";
    ASSERT_TRUE(run.endsOn(end));
    EXPECT_TRUE(inOrder(run.screens.texts, {"Installing Steam...\nComplete the setup in the Steam window.", end}));
    EXPECT_EQ(run.wine.calls("wine").at(0).args, Texts{Constants::supportDir() + "/SteamSetup.exe"});
    EXPECT_EQ(uitest::visibleControls(run.launcher.d()).size(), GetParam() ? 5u : 6u);
}

namespace {

// Answers the next modal alert with the button titled `answer` once it is up, checking what it says.
void answerNextAlert(const QString& answer) {
    QTimer::singleShot(20, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return answerNextAlert(answer);
        EXPECT_EQ(box->text(), "Repair Installation?");
        EXPECT_EQ(box->informativeText(),
                  "This will reset everything. You'll need to reinstall Steam and log in again.");
        EXPECT_EQ(box->defaultButton()->text(), "Repair");
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == answer) button->click();
        }
    });
}

class Repair : public ::testing::TestWithParam<bool> {};

}  // namespace

TEST_P(Repair, AsksFirstThenRebuildsThePrefix) {
    SetupRun run;
    run.launcher.buildWindow();
    run.prepareSteam();
    answerNextAlert(GetParam() ? "Repair" : "Cancel");
    run.launcher.d().onRepair();
    if (!GetParam()) {
        uitest::settle();
        EXPECT_TRUE(run.wine.calls("wineserver").empty()) << "cancel kills nothing";
        EXPECT_TRUE(fs::exists(Constants::prefixPath() + Constants::steamExeUnix));
        return;
    }
    ASSERT_TRUE(run.endsOn(kStep1));
    EXPECT_TRUE(inOrder(run.screens.texts, {"Repairing installation...", "Creating Wine prefix...", kStep1}));
    EXPECT_EQ(run.wine.calls("wineserver").at(0).args, Texts{"-k"});
    EXPECT_FALSE(fs::exists(Constants::prefixPath() + Constants::steamExeUnix));
    EXPECT_TRUE(PrefixManager().mesaDLLsDeployed());
    for (const auto& entry : fs::directory_iterator(Constants::supportDir())) {
        EXPECT_EQ(entry.path().filename().string().find("prefix.backup"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(SetupFlow, DroppedInstaller, ::testing::Bool());
INSTANTIATE_TEST_SUITE_P(SetupFlow, Repair, ::testing::Bool());
