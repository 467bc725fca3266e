// Whole user journeys through the controller against the fake Wine runtime, each ending on its
// screen; the launcher and setup logs they leave are compared with tests/golden/logs/<journey>.log.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QPushButton>
#include <QTextBrowser>

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
const std::string kReady = "Launch Quillmoor from\nyour Steam Library.", kSteam = "/drive_c/Program Files (x86)/Steam";
const std::string kRunning = "Steam is running.\nPlay Quillmoor from your Library.";

enum Prefix { none, created, withSteam };

// A launcher with the bundle's graphics DLLs and the fake Wine runtime, its window built.
struct Journey {
    Journey() { launcher.buildWindow(); }
    void arrange(bool agreed, Prefix prefix) {
        if (agreed) writeFile(home().supportDir() + "/eula-accepted", "");
        if (prefix == none) return;
        PrefixManager manager;
        ASSERT_TRUE(manager.createPrefix(nullptr) && manager.deployMesaDLLs(nullptr));
        if (prefix == withSteam) writeFile(manager.prefixPath() + kSteam + "/steam.exe", "installed\n");
    }
    // The runtime goes to a loopback server, packed as its archive is; unless kept, it leaves the disk.
    void serveRuntime(bool goodDigest, bool keepRuntime = false) {
        const std::string tree = home().tmp() + "/tree", archive = home().tmp() + "/wine.tar.xz";
        fs::create_directories(tree + "/Wine Staging.app/Contents/Resources");
        fs::copy(wineDir(), tree + "/Wine Staging.app/Contents/Resources/wine", fs::copy_options::recursive);
        const auto packed = platform::Subprocess::run(
            {"/usr/bin/tar", {"-cJf", archive, "-C", tree, "Wine Staging.app"}, {{"PATH", "/usr/bin:/bin"}}});
        EXPECT_TRUE(packed && packed->exit.status == 0);
        if (!keepRuntime) fs::remove_all(wineDir());
        server = std::make_unique<testsupport::HttpTestServer>(testsupport::HttpTestServer::Options{archive});
        useDownload(server->url(), platform::Sha256::hex(goodDigest ? testsupport::readFile(archive) : "other"));
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
    std::string wineDir() { return home().supportDir() + "/wine"; }

    uitest::Launcher launcher;
    testsupport::GraphicsBundle bundle{launcher.home.bundle()};
    testsupport::FakeWine wine;
    std::unique_ptr<testsupport::HttpTestServer> server;
};

struct Row {
    const char* name;                   // of tests/golden/logs/<name>.log
    Prefix prefix;                      // the agreement is given, but for first-start
    std::function<void(Journey&)> act;  // after the arrangement, logs emptied
    std::string endScreen;
    std::map<std::string, std::string> wine = {};  // fake Wine control, set after the arrangement
    friend std::ostream& operator<<(std::ostream& os, const Row& r) { return os << r.name; }
};

class JourneyTest : public ::testing::TestWithParam<Row> {};

}  // namespace

TEST_P(JourneyTest, LeavesItsGoldenLogs) {
    const Row& row = GetParam();
    Journey j;
    const std::string dir = j.home().supportDir();
    j.arrange(row.name != std::string("first-start"), row.prefix);
    j.wine.configure(row.wine);
    for (const char* log : {"/launcher.log", "/setup-output.log"})
        if (fs::exists(dir + log)) writeFile(dir + log, "");
    row.act(j);
    j.endsOn(row.endScreen);
    testsupport::expectGolden("logs/" + std::string(row.name) + ".log", testsupport::journeyLogs(j.home()));
}

namespace {

const auto start = [](Journey& j) { j.launcher.launch(); };
// The ready screen after a start, then Open Steam.
const auto openSteam = [](Journey& j) {
    start(j), j.endsOn(kReady), j.d().onMainButton(), j.endsOn("Steam launching...");
};
const auto drop = [](Journey& j) {
    writeFile(j.home().tmp() + "/SteamSetup.exe", "MZ");
    j.d().handleDroppedInstaller(j.home().tmp() + "/SteamSetup.exe");
};
const auto repair = [](Journey& j) { uitest::answerNextAlert("Repair"), j.d().onRepair(); };
const std::map<std::string, std::string> kWinebootFails = {{"wineboot.exit", "1"}};
const std::string kRestored = "Repair was not successful.\nYour previous installation has been restored.";

// The launcher killed, or quit by the user, between the repair's move aside and the end of its
// rebuild: the next start puts the user's prefix back. The launcher killed inside its first
// start's wineboot or registry writes: the next start builds again what was cut short. (The
// launcher is the child below, its Wine the command it is inside.)
const auto cutShort = [](const std::string& role, const std::string& command = "wineboot") {
    return [role, command](Journey& j) {
        const size_t before = j.wine.runs(command);
        auto child = platform::Subprocess::start(
            {uitest::thisTestProgram(),
             {},
             {{"HOME", j.home().home()}, {"TMPDIR", j.home().tmp()}, {"FERROWICK_UI_CHILD", role}}});
        ASSERT_TRUE(child.process) << child.error;
        ASSERT_TRUE(uitest::pumpUntil([&] { return j.wine.runs(command) > before; }));
        const bool killed = role != "repairThenQuit";
        if (killed) child.process->sendSignal(SIGKILL);
        const auto ended = child.process->waitFor(60);
        ASSERT_TRUE(ended && ended->signaled == killed);
        for (int pid : j.wine.livePids()) ::kill(pid, SIGKILL);  // its Wine with it
        EXPECT_FALSE(PrefixManager().prefixExists() && PrefixManager().mesaDLLsDeployed());
        j.wine.configure({}), start(j);
    };
};
const std::map<std::string, std::string> kWinebootHangs = {{"wineboot.create", "noreg"}, {"wineboot.sleep", "60"}};
const std::map<std::string, std::string> kWinebootCutShort = {{"wineboot.create", "partial"}, {"wineboot.sleep", "60"}};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Journeys, JourneyTest, ::testing::Values(
    Row{"first-start", none, [](Journey& j) {
        j.serveRuntime(true);
        // Left by a launcher killed between setting its old runtime aside and moving the new one in.
        const std::string dir = j.home().supportDir(), leftovers[] = {"/.wine-download-Ab12Cd",
            "/wine-staging-11.4-osx64.tar.xz", "/wine.partial/Wine Staging.app/Contents/Info.plist", "/wine.old/bin/wine"};
        for (const std::string& leftover : leftovers) writeFile(dir + leftover, "left");
        start(j);
        j.endsOn("Please review and accept\nthe terms to continue."), j.d().eulaAcceptButton->click();  // not ticked
        j.endsOn("Please check the box to continue.");
        uitest::StatusRecorder screens{j.d()};
        j.d().eulaCheck1->click(), j.d().eulaAcceptButton->click(), j.endsOn(kStep1);
        for (const std::string& leftover : leftovers)
            EXPECT_FALSE(fs::exists(dir + leftover.substr(0, leftover.find('/', 1)))) << leftover;
        EXPECT_TRUE(uitest::inOrder(screens.texts, {"Checking system...", "First-time setup in progress.\nThis may "
            "take a few minutes.", "Setting up... *", "Checking system...", "Preparing environment...",
            "Creating Wine prefix...", "Installing components...", "Configuring environment..."}))
            << ::testing::PrintToString(screens.texts);
    }, kStep1},
    Row{"return-start", withSteam, start, kReady},
    // Each way setup ends on an error screen; the system checks cannot fail here (their table is the pipeline's).
    Row{"setup-bundle-incomplete", none, [](Journey& j) {
        fs::remove(j.home().bundle() + "/mesa-x86_64/opengl32.dll"), start(j);
    }, "Installation incomplete.\nPlease reinstall Ferrowick."},
    Row{"setup-no-disk-space", none, [](Journey& j) {
        j.d().checkDiskSpace = [](const std::string&, int64_t) { return false; }, start(j);
    }, "Not enough disk space."},
    Row{"setup-prefix-failed", none, start, "Setup failed.\nPlease try again.", kWinebootFails},
    Row{"setup-deploy-failed", created, [](Journey& j) {
        const std::string dll = Constants::prefixPath() + "/drive_c/windows/system32/opengl32.dll";
        fs::remove(dll), writeFile(dll + "/in the way", ""), start(j);  // a directory where the DLL goes
    }, "Setup failed.\nPlease try again or use Repair."},
    // A runtime of the wrong version is downloaded again, here unverified.
    Row{"setup-wrong-runtime-unverified", none, [](Journey& j) {
        j.serveRuntime(false, true), j.wine.set("version.output", "wine-8.0.2\n"), start(j);
    }, "Setup verification failed.\nPlease try again."},
    Row{"setup-download-unreachable", none, [](Journey& j) {
        fs::remove_all(j.wineDir()), j.useDownload("http://127.0.0.1:1/wine.tar.xz", ""), start(j);
    }, "Setup failed.\nPlease check your internet connection."},
    // The dropped installer: Steam seen while it runs (dropped on the window, the launcher's copy
    // runs), never seen, or no Wine to run it.
    Row{"handoff-detected", created, [](Journey& j) {
        QMimeData mime;
        uitest::StatusRecorder screens{j.d()};
        writeFile(j.home().tmp() + "/Steam Setup ü.exe", "MZ");
        EXPECT_TRUE(uitest::enterDrag(j.d().dropZone, mime, {j.home().tmp() + "/Steam Setup ü.exe"}) && uitest::endDrag(j.d().dropZone, &mime));
        j.endsOn(kReady);
        EXPECT_TRUE(uitest::inOrder(screens.texts, {"Installing Steam...\nComplete the setup in the Steam window."}));
        EXPECT_EQ(j.wine.calls("wine").back().args, std::vector<std::string>{j.home().supportDir() + "/SteamSetup.exe"});
    }, kReady, {{"run.steam", "1"}, {"run.sleep", "20"}}},
    Row{"handoff-not-detected", created, [](Journey& j) {
        QTextBrowser browser;  // stands in for the user's browser
        QDesktopServices::setUrlHandler("https", &browser, "setSource");
        j.d().downloadButton->click();
        QDesktopServices::unsetUrlHandler("https");
        EXPECT_EQ(browser.source().toString().toStdString(), "https://store.steampowered.com/about/");
        drop(j);
    }, "Steam was not detected after installation.\nPlease try again."},
    Row{"handoff-could-not-run", none, [](Journey& j) { fs::remove(Constants::wineBin()), drop(j); },
        "Could not run the installer.\nPlease try again."},
    // Repair: rebuilt (a cancelled one first), failed and put back, failed with nothing to put back.
    Row{"repair-rebuilt", withSteam, [](Journey& j) {
        std::string alert;
        const size_t before = j.wine.calls("wineserver").size();  // prefix creation waits on the server
        uitest::answerNextAlert("Cancel", &alert), j.d().repairButton->click();
        EXPECT_EQ(alert, "warning|Repair Installation?|This will reset everything. You'll need to reinstall Steam "
                         "and log in again.|Repair*|Cancel");
        EXPECT_TRUE(fs::exists(Constants::prefixPath() + kSteam) && j.wine.calls("wineserver").size() == before);
        repair(j), j.endsOn(kStep1);
        EXPECT_EQ(j.wine.calls("wineserver").at(before).args, std::vector<std::string>{"-k"}) << "Steam ended first";
        for (const auto& entry : fs::directory_iterator(j.home().supportDir()))
            EXPECT_FALSE(entry.path().filename().string().starts_with("prefix.backup")) << "backup left";
    }, kStep1},
    Row{"repair-restored", withSteam, repair, kRestored, kWinebootFails},
    Row{"repair-not-restored", none, repair, "Repair was not successful.\nPlease reinstall Ferrowick.", kWinebootFails},
    // Repair's button stays on screen through the kill and the pause: a second repair would delete
    // the user's prefix, and an installer dropped meanwhile must not run.
    Row{"repair-clicked-twice", withSteam, [](Journey& j) {
        repair(j), uitest::settle();
        repair(j), drop(j), j.endsOn(kRestored);
        uitest::pumpUntil([] { return false; }, std::chrono::seconds(6));  // time for a second repair to show
    }, kRestored, kWinebootFails},
    Row{"repair-killed", withSteam, cutShort("repair"), kReady, kWinebootHangs},
    Row{"repair-quit", withSteam, cutShort("repairThenQuit"), kReady, kWinebootHangs},
    Row{"setup-killed-in-wineboot", none, cutShort("setup"), kStep1, kWinebootCutShort},
    Row{"setup-killed-in-registry", none, cutShort("setup", "reg"), kStep1, {{"reg.sleep", "60"}}},
    // The Steam session: started with the button, polled to running, closed with it; Steam quitting.
    Row{"steam-launch-running-close", withSteam, [](Journey& j) {
        openSteam(j);
        for (int poll = 0; poll < 200 && j.launcher.status() != kRunning; ++poll)
            j.d().updateSteamStatus(), uitest::pumpUntil([&] { return !j.busy(); });
        j.endsOn(kRunning), j.d().onMainButton();
        // Not on the killed Steam's exit notice: only once the kill and the pause are over.
        EXPECT_TRUE(uitest::pumpUntil([&] { return j.launcher.status() == kReady; }) && !j.busy());
    }, kReady},
    Row{"steam-quits", withSteam, openSteam, kReady, {{"steam.quit_after", "1"}}},
    // Steam installed, its Wine alive and the graphics components to deploy: status polls during the
    // slow registry writes paint no Steam screen; the pipeline's own last screen comes after them all.
    Row{"setup-polled", withSteam, [](Journey& j) {
        fs::remove(Constants::prefixPath() + "/drive_c/windows/system32/opengl32.dll"), j.wine.setServerAlive(true);
        const size_t before = j.wine.runs("reg");
        start(j);
        ASSERT_TRUE(uitest::pumpUntil([&] { return j.wine.runs("reg") > before; }));
        j.d().updateSteamStatus(), uitest::pumpUntil([] { return false; }, std::chrono::seconds(1));
        j.d().updateSteamStatus();
        ASSERT_TRUE(uitest::pumpUntil([&] { return j.launcher.status().starts_with("Steam "); }));
        EXPECT_EQ(j.wine.runs("reg") - before, 5u) << j.launcher.status();
    }, "Steam launching...", {{"reg.sleep", "1"}}}),
    [](const auto& info) { std::string name = info.param.name; return (std::erase(name, '-'), name); });
// clang-format on

}  // namespace

namespace uitest {

// The launcher process cutShort ends: it runs setup ("setup") or confirms a repair ("repair") and
// runs until it is killed, or until the user quits once the rebuild has begun ("repairThenQuit";
// quitting runs applicationWillTerminate, then the process ends while the repair's work item is
// still blocked).
int runChild(const std::string& role) {
    AppDelegate app;
    app.setupMenuBar(), app.setupWindow();
    if (role == "setup") {  // a first start, until it is killed
        app.validateAndPrepare();
        pumpUntil([] { return false; }, std::chrono::seconds(120));
        return 0;
    }
    answerNextAlert("Repair"), app.onRepair();
    const auto wineboots = [] {  // the fake's own record, read as it stands: a FakeWine here would reset it
        const std::string calls = testsupport::readFile(Constants::wineDir() + "/bin/fake-wine.calls");
        size_t n = 0;
        for (size_t at = 0; (at = calls.find("wineboot", at)) != std::string::npos; ++at) ++n;
        return n;
    };
    const size_t before = wineboots();
    pumpUntil([&] { return role == "repairThenQuit" && wineboots() > before; }, std::chrono::seconds(120));
    app.applicationWillTerminate();
    return 0;
}

}  // namespace uitest
