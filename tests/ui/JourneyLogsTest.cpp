// Whole user journeys through the controller against the fake Wine runtime,
// each ending on its screen; the launcher and setup logs they leave are
// compared with tests/golden/logs/<journey>.log.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>

#include "app/DropView.h"
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
    void endsOn(const std::string& text) {
        EXPECT_TRUE(uitest::pumpUntil([&] { return launcher.status() == text && !busy(); })) << launcher.status();
    }
    bool busy() { return d().steamSession().isBusy(); }
    AppDelegate& d() { return launcher.d(); }
    const testsupport::TestHome& home() { return launcher.home; }

    uitest::Launcher launcher;
    testsupport::GraphicsBundle bundle{launcher.home.bundle()};
    testsupport::FakeWine wine;
};

}  // namespace

enum Prefix { none, created, withSteam };

struct Row {
    const char* name;  // of tests/golden/logs/<name>.log
    bool agreed;       // the agreement accepted before
    Prefix prefix;
    std::function<void(Journey&)> act;  // after the arrangement, logs emptied
    std::string endScreen;
    std::map<std::string, std::string> wine = {};  // fake Wine control, set after the arrangement
    friend std::ostream& operator<<(std::ostream& os, const Row& r) { return os << r.name; }
};

class JourneyTest : public ::testing::TestWithParam<Row> {};

TEST_P(JourneyTest, LeavesItsGoldenLogs) {
    const Row& row = GetParam();
    Journey j;
    if (row.agreed) writeFile(j.home().supportDir() + "/eula-accepted", "");
    if (row.prefix != none) j.createPrefix(row.prefix == withSteam);
    j.wine.configure(row.wine);
    for (const char* log : {"/launcher.log", "/setup-output.log"}) {
        if (fs::exists(j.home().supportDir() + log)) writeFile(j.home().supportDir() + log, "");
    }
    row.act(j);
    j.endsOn(row.endScreen);
    testsupport::expectGolden("logs/" + std::string(row.name) + ".log", testsupport::journeyLogs(j.home()));
}

const auto start = [](Journey& j) { j.launcher.launch(); };
// The ready screen after a start, then `then`.
const auto started = [](std::function<void(Journey&)> then) {
    return [then](Journey& j) { j.launcher.launch(), j.endsOn(kReady), then(j); };
};
const auto drop = [](Journey& j) {
    writeFile(j.home().tmp() + "/SteamSetup.exe", "MZ");
    j.d().handleDroppedInstaller(j.home().tmp() + "/SteamSetup.exe");
};
const auto repair = [](Journey& j) { uitest::answerNextAlert("Repair"), j.d().onRepair(); };
const char* const kRunning = "Steam is running.\nPlay Quillmoor from your Library.";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Journeys, JourneyTest, ::testing::Values(
    Row{"first-start", false, none, [](Journey& j) {
        auto server = j.serveRuntime(true);
        // Left by a launcher killed between setting its old runtime aside and moving the new one in.
        const std::string leftovers[] = {"/.wine-download-Ab12Cd", "/wine-staging-11.4-osx64.tar.xz",
                                         "/wine.partial/Wine Staging.app/Contents/Info.plist", "/wine.old/bin/wine"};
        for (const std::string& leftover : leftovers) writeFile(j.home().supportDir() + leftover, "left");
        j.launcher.launch();
        j.endsOn("Please review and accept\nthe terms to continue.");
        j.d().eulaAcceptButton->click();  // not ticked: nothing starts
        j.endsOn("Please check the box to continue.");
        uitest::StatusRecorder screens{j.d()};
        j.d().eulaCheck1->click();
        j.d().eulaAcceptButton->click();
        j.endsOn(kStep1);
        for (const std::string& leftover : leftovers) {
            const std::string top = j.home().supportDir() + leftover.substr(0, leftover.find('/', 1));
            EXPECT_FALSE(fs::exists(top)) << top;
        }
        EXPECT_TRUE(uitest::inOrder(screens.texts, {"Checking system...",
                                                    "First-time setup in progress.\nThis may take a few minutes.",
                                                    "Setting up... *", "Checking system...", "Preparing environment...",
                                                    "Creating Wine prefix...", "Installing components...",
                                                    "Configuring environment...", kStep1}))
            << ::testing::PrintToString(screens.texts);
    }, kStep1},
    Row{"return-start", true, withSteam, start, kReady},
    // Each way setup ends on an error screen; the system checks cannot fail here (their table is the pipeline's).
    Row{"setup-bundle-incomplete", true, none, [](Journey& j) {
        fs::remove(j.home().bundle() + "/mesa-x86_64/opengl32.dll"), start(j);
    }, "Installation incomplete.\nPlease reinstall Ferrowick."},
    Row{"setup-no-disk-space", true, none, [](Journey& j) {
        j.d().checkDiskSpace = [](const std::string&, int64_t) { return false; }, start(j);
    }, "Not enough disk space."},
    Row{"setup-prefix-failed", true, none, start, "Setup failed.\nPlease try again.", {{"wineboot.exit", "1"}}},
    Row{"setup-deploy-failed", true, created, [](Journey& j) {
        const std::string dll = Constants::prefixPath() + "/drive_c/windows/system32/opengl32.dll";
        fs::remove(dll), writeFile(dll + "/in the way", ""), start(j);  // a directory where the DLL goes
    }, "Setup failed.\nPlease try again or use Repair."},
    // A runtime of the wrong version is downloaded again, here unverified.
    Row{"setup-wrong-runtime-unverified", true, none, [](Journey& j) {
        auto server = j.serveRuntime(false, true);
        j.wine.set("version.output", "wine-8.0.2\n"), start(j);
        j.endsOn("Setup verification failed.\nPlease try again.");
    }, "Setup verification failed.\nPlease try again."},
    Row{"setup-download-unreachable", true, none, [](Journey& j) {
        fs::remove_all(j.home().supportDir() + "/wine");
        j.useDownload("http://127.0.0.1:1/wine.tar.xz", ""), start(j);
    }, "Setup failed.\nPlease check your internet connection."},
    // The dropped installer: Steam seen while it runs, never seen, or no Wine to run it.
    // Through the window's own drop zone: the launcher's copy runs under Wine.
    Row{"handoff-detected", true, created, [](Journey& j) {
        const std::string dropped = j.home().tmp() + "/Steam Setup ü.exe";
        writeFile(dropped, "MZ");
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        uitest::StatusRecorder screens{j.d()};
        QCoreApplication::sendEvent(j.d().dropZone, &enter);  // a drop goes where the drag entered
        QCoreApplication::sendEvent(j.d().dropZone, &drop);
        j.endsOn(kReady);
        EXPECT_TRUE(uitest::inOrder(screens.texts, {"Installing Steam...\nComplete the setup in the Steam window."}));
        EXPECT_EQ(j.wine.calls("wine").back().args, std::vector<std::string>{j.home().supportDir() + "/SteamSetup.exe"});
    }, kReady, {{"run.steam", "1"}, {"run.sleep", "20"}}},
    Row{"handoff-not-detected", true, created, [](Journey& j) {
        QTextBrowser browser;  // stands in for the user's browser
        QDesktopServices::setUrlHandler("https", &browser, "setSource");
        j.d().downloadButton->click();
        QDesktopServices::unsetUrlHandler("https");
        EXPECT_EQ(browser.source().toString().toStdString(), "https://store.steampowered.com/about/");
        drop(j);
    }, "Steam was not detected after installation.\nPlease try again."},
    Row{"handoff-could-not-run", true, none, [](Journey& j) { fs::remove(Constants::wineBin()), drop(j); },
        "Could not run the installer.\nPlease try again."},
    // Repair: rebuilt (a cancelled one first), failed and put back, failed with nothing to put back.
    Row{"repair-rebuilt", true, withSteam, [](Journey& j) {
        std::string alert;
        const size_t before = j.wine.calls("wineserver").size();  // prefix creation waits on the server
        uitest::answerNextAlert("Cancel", &alert), j.d().repairButton->click();
        EXPECT_EQ(alert, "warning|Repair Installation?|This will reset everything. You'll need to reinstall Steam "
                         "and log in again.|Repair*|Cancel");
        EXPECT_TRUE(fs::exists(Constants::prefixPath() + kSteamExe) && j.wine.calls("wineserver").size() == before);
        repair(j);
        j.endsOn(kStep1);
        EXPECT_EQ(j.wine.calls("wineserver").at(before).args, std::vector<std::string>{"-k"}) << "Steam ended first";
        for (const auto& entry : fs::directory_iterator(j.home().supportDir()))
            EXPECT_EQ(entry.path().filename().string().find("prefix.backup"), std::string::npos) << "backup left";
    }, kStep1},
    Row{"repair-restored", true, withSteam, repair,
        "Repair was not successful.\nYour previous installation has been restored.", {{"wineboot.exit", "1"}}},
    Row{"repair-not-restored", true, none, repair, "Repair was not successful.\nPlease reinstall Ferrowick.",
        {{"wineboot.exit", "1"}}},
    // The Steam session: started with the button, polled to running, closed with the button; Steam quitting.
    Row{"steam-launch-running-close", true, withSteam, started([](Journey& j) {
        j.d().onMainButton();
        j.endsOn("Steam launching...");
        for (int poll = 0; poll < 200 && j.launcher.status() != kRunning; ++poll) {
            j.d().updateSteamStatus();
            uitest::pumpUntil([&] { return !j.busy(); });
        }
        j.endsOn(kRunning);
        j.d().onMainButton();
    }), kReady},
    Row{"steam-quits", true, withSteam, started([](Journey& j) {
        j.d().onMainButton();
        j.endsOn("Steam launching...");
    }), kReady, {{"steam.quit_after", "1"}}}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::erase(name, '-');
        return name;
    });
// clang-format on
