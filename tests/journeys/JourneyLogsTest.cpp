// Whole user journeys through the controller against the fake Wine runtime,
// each ending on its screen; the launcher and setup logs they leave are
// compared with tests/golden/logs/<journey>.log.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QTimer>

#include "platform/Sha256.h"
#include "platform/Subprocess.h"
#include "support/FakeWine.h"
#include "support/GoldenLog.h"
#include "support/GraphicsBundle.h"
#include "support/HttpTestServer.h"
#include "ui/UiSupport.h"

namespace fs = std::filesystem;
using testsupport::writeFile;

namespace {

const std::string kStep1 = "Step 1: Install Steam\nDownload Steam for Windows (.exe),\nthen drag the installer below.";
const std::string kReady = "Launch Quillmoor from\nyour Steam Library.";
const std::string kSteamExe = "/drive_c/Program Files (x86)/Steam/steam.exe";

// A launcher with the bundle's graphics DLLs and the fake Wine runtime, its
// window built. Arrangements made before start() leave nothing in the logs.
struct Journey {
    Journey() { launcher.buildWindow(); }
    void acceptAgreement() { writeFile(home().supportDir() + "/eula-accepted", ""); }
    void createPrefix(bool withSteam) {
        PrefixManager prefix;
        ASSERT_TRUE(prefix.createPrefix(nullptr) && prefix.deployMesaDLLs(nullptr));
        if (withSteam) writeFile(prefix.prefixPath() + kSteamExe, "installed\n");
    }
    // The runtime goes to a loopback server, packed as its archive is; unless kept, it leaves the disk.
    std::unique_ptr<testsupport::HttpTestServer> serveRuntime(bool goodDigest, bool keepRuntime = false) {
        const std::string tree = home().tmp() + "/tree", archive = home().tmp() + "/wine.tar.xz";
        const std::string wineDir = home().supportDir() + "/wine";
        fs::create_directories(tree + "/Wine Staging.app/Contents/Resources");
        fs::copy(wineDir, tree + "/Wine Staging.app/Contents/Resources/wine", fs::copy_options::recursive);
        const auto packed = platform::Subprocess::run(
            {"/usr/bin/tar", {"-cJf", archive, "-C", tree, "Wine Staging.app"}, {{"PATH", "/usr/bin:/bin"}}});
        EXPECT_TRUE(packed && packed->exit.status == 0);
        if (!keepRuntime) fs::remove_all(wineDir);
        auto server = std::make_unique<testsupport::HttpTestServer>(testsupport::HttpTestServer::Options{archive});
        useDownload(server->url(), platform::Sha256::hex(goodDigest ? testsupport::readFile(archive) : "other"));
        return server;
    }
    void useDownload(const std::string& url, const std::string& digest) {
        auto settings = WineDownloader::Settings::defaults();
        settings.downloadURL = url, settings.expectedSHA256 = digest;
        settings.freeSpace = [](const std::string&) { return std::optional<uint64_t>(100'000'000'000); };
        d().wineDownloader = std::make_unique<WineDownloader>(settings);
    }
    void clearLogs() {
        for (const char* log : {"/launcher.log", "/setup-output.log"}) {
            if (fs::exists(home().supportDir() + log)) writeFile(home().supportDir() + log, "");
        }
    }
    void start() { clearLogs(), launcher.launch(); }
    void endsOn(const std::string& text) {
        EXPECT_TRUE(uitest::pumpUntil([&] { return launcher.status() == text && !busy(); })) << launcher.status();
    }
    bool busy() { return d().steamSession().isBusy(); }
    void expectLogs(const std::string& journey) {
        testsupport::expectGolden("logs/" + journey + ".log", testsupport::journeyLogs(home()));
    }
    AppDelegate& d() { return launcher.d(); }
    const testsupport::TestHome& home() { return launcher.home; }

    uitest::Launcher launcher;
    testsupport::GraphicsBundle bundle{launcher.home.bundle()};
    testsupport::FakeWine wine;
};

// Answers the next modal alert with the button titled `answer` once it is up.
void answerNextAlert(const QString& answer) {
    QTimer::singleShot(20, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return answerNextAlert(answer);
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == answer) button->click();
        }
    });
}

}  // namespace

TEST(Journey, FirstStart) {
    Journey j;
    auto server = j.serveRuntime(true);
    j.start();
    j.endsOn("Please review and accept\nthe terms to continue.");
    j.d().eulaCheck1->setChecked(true);
    j.d().onEulaAccept();
    j.endsOn(kStep1);
    j.expectLogs("first-start");
}

TEST(Journey, ReturnStart) {
    Journey j;
    j.acceptAgreement();
    j.createPrefix(true);
    j.start();
    j.endsOn(kReady);
    j.expectLogs("return-start");
}

// Each way the setup pipeline can end on an error screen (the system checks
// cannot fail on this machine; their ends are in the pipeline's own table).
TEST(Journey, SetupBundleIncomplete) {
    Journey j;
    j.acceptAgreement();
    fs::remove(j.home().bundle() + "/mesa-x86_64/opengl32.dll");
    j.start();
    j.endsOn("Installation incomplete.\nPlease reinstall Ferrowick.");
    j.expectLogs("setup-bundle-incomplete");
}

TEST(Journey, SetupNoDiskSpace) {
    Journey j;
    j.acceptAgreement();
    j.d().checkDiskSpace = [](const std::string&, int64_t) { return false; };
    j.start();
    j.endsOn("Not enough disk space.");
    j.expectLogs("setup-no-disk-space");
}

TEST(Journey, SetupPrefixCreationFails) {
    Journey j;
    j.acceptAgreement();
    j.wine.set("wineboot.exit", 1);
    j.start();
    j.endsOn("Setup failed.\nPlease try again.");
    j.expectLogs("setup-prefix-failed");
}

TEST(Journey, SetupDeploymentFails) {
    Journey j;
    j.acceptAgreement();
    j.createPrefix(false);
    const std::string dll = Constants::prefixPath() + "/drive_c/windows/system32/opengl32.dll";
    fs::remove(dll);
    writeFile(dll + "/in the way", "");  // a directory where the DLL goes
    j.start();
    j.endsOn("Setup failed.\nPlease try again or use Repair.");
    j.expectLogs("setup-deploy-failed");
}

// A runtime of the wrong version is downloaded again, once.
TEST(Journey, SetupWrongRuntimeDownloadUnverified) {
    Journey j;
    j.acceptAgreement();
    auto server = j.serveRuntime(false, true);
    j.wine.set("version.output", "wine-8.0.2\n");
    j.start();
    j.endsOn("Setup verification failed.\nPlease try again.");
    j.expectLogs("setup-wrong-runtime-unverified");
}

TEST(Journey, SetupDownloadUnreachable) {
    Journey j;
    j.acceptAgreement();
    fs::remove_all(j.home().supportDir() + "/wine");
    j.useDownload("http://127.0.0.1:1/wine.tar.xz", "");
    j.start();
    j.endsOn("Setup failed.\nPlease check your internet connection.");
    j.expectLogs("setup-download-unreachable");
}

// The dropped installer: Steam seen while it runs, never seen, or no Wine to run it.
TEST(Journey, HandoffSteamDetected) {
    Journey j;
    j.acceptAgreement();
    j.createPrefix(false);
    j.wine.configure({{"run.steam", "1"}, {"run.sleep", "20"}});
    writeFile(j.home().tmp() + "/SteamSetup.exe", "MZ");
    j.clearLogs();
    j.d().handleDroppedInstaller(j.home().tmp() + "/SteamSetup.exe");
    j.endsOn(kReady);
    j.expectLogs("handoff-detected");
}

TEST(Journey, HandoffSteamNotDetected) {
    Journey j;
    j.acceptAgreement();
    j.createPrefix(false);
    writeFile(j.home().tmp() + "/SteamSetup.exe", "MZ");
    j.clearLogs();
    j.d().handleDroppedInstaller(j.home().tmp() + "/SteamSetup.exe");
    j.endsOn("Steam was not detected after installation.\nPlease try again.");
    j.expectLogs("handoff-not-detected");
}

TEST(Journey, HandoffCouldNotRun) {
    Journey j;
    j.acceptAgreement();
    writeFile(j.home().tmp() + "/SteamSetup.exe", "MZ");
    fs::remove(Constants::wineBin());
    j.clearLogs();
    j.d().handleDroppedInstaller(j.home().tmp() + "/SteamSetup.exe");
    j.endsOn("Could not run the installer.\nPlease try again.");
    j.expectLogs("handoff-could-not-run");
}

// Repair: rebuilt, or failed and the old prefix put back, or failed with nothing to put back.
TEST(Journey, RepairRebuilt) {
    Journey j;
    j.acceptAgreement();
    j.createPrefix(true);
    j.clearLogs();
    answerNextAlert("Repair");
    j.d().onRepair();
    j.endsOn(kStep1);
    EXPECT_FALSE(fs::exists(Constants::prefixPath() + kSteamExe));
    j.expectLogs("repair-rebuilt");
}

TEST(Journey, RepairFailsAndRestores) {
    Journey j;
    j.acceptAgreement();
    j.createPrefix(true);
    j.wine.set("wineboot.exit", 1);
    j.clearLogs();
    answerNextAlert("Repair");
    j.d().onRepair();
    j.endsOn("Repair was not successful.\nYour previous installation has been restored.");
    EXPECT_TRUE(fs::exists(Constants::prefixPath() + kSteamExe));
    j.expectLogs("repair-restored");
}

TEST(Journey, RepairFailsWithNothingToRestore) {
    Journey j;
    j.acceptAgreement();
    j.wine.set("wineboot.exit", 1);
    j.clearLogs();
    answerNextAlert("Repair");
    j.d().onRepair();
    j.endsOn("Repair was not successful.\nPlease reinstall Ferrowick.");
    j.expectLogs("repair-not-restored");
}

// The Steam session: started with the main button, polled to running, closed with the button.
TEST(Journey, SteamLaunchedRunningAndClosed) {
    Journey j;
    j.acceptAgreement();
    j.createPrefix(true);
    j.start();
    j.endsOn(kReady);
    j.d().onMainButton();
    j.endsOn("Steam launching...");
    for (int poll = 0; poll < 200 && j.launcher.status() != "Steam is running.\nPlay Quillmoor from your Library.";
         ++poll) {
        j.d().updateSteamStatus();
        uitest::pumpUntil([&] { return !j.busy(); });
    }
    j.endsOn("Steam is running.\nPlay Quillmoor from your Library.");
    j.d().onMainButton();
    j.endsOn(kReady);
    j.expectLogs("steam-launch-running-close");
}

TEST(Journey, SteamQuitsByItself) {
    Journey j;
    j.acceptAgreement();
    j.createPrefix(true);
    j.wine.set("steam.quit_after", "1");
    j.start();
    j.endsOn(kReady);
    j.d().onMainButton();
    j.endsOn("Steam launching...");
    j.endsOn(kReady);
    j.expectLogs("steam-quits");
}
