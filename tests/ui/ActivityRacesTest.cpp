// One thing at a time: clicks, drops and status polls that arrive while setup
// or a repair is under way, and Close Steam, driven through the real controller
// against the fake Wine runtime.
#include <gtest/gtest.h>
#include <signal.h>

#include <QPushButton>
#include <algorithm>

#include "platform/Subprocess.h"
#include "support/FakeWine.h"
#include "support/GraphicsBundle.h"
#include "ui/UiSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kReady = "Launch Quillmoor from\nyour Steam Library.";
const std::string kRestored = "Repair was not successful.\nYour previous installation has been restored.";

// A return start: agreement given, prefix built and equipped, Steam installed.
struct Installed {
    Installed() {
        testsupport::writeFile(Constants::eulaAcceptedFile(), "");
        PrefixManager prefix;
        EXPECT_TRUE(prefix.createPrefix(nullptr) && prefix.deployMesaDLLs(nullptr));
        testsupport::writeFile(steamExe, "installed\n");
    }
    bool shows(const std::string& text, std::chrono::seconds limit = 90s) {
        return uitest::pumpUntil([&] { return launcher.status() == text; }, limit);
    }
    std::string log() const { return testsupport::readFile(Constants::supportDir() + "/launcher.log"); }
    size_t backups() const {
        return std::count_if(fs::directory_iterator(Constants::supportDir()), {}, [](const auto& entry) {
            return entry.path().filename().string().starts_with("prefix.backup.");
        });
    }

    uitest::Launcher launcher;
    testsupport::GraphicsBundle bundle{launcher.home.bundle()};
    testsupport::FakeWine wine;
    const std::string steamExe = Constants::prefixPath() + Constants::steamExeUnix;
};

void pumpFor(std::chrono::seconds span) {
    uitest::pumpUntil([] { return false; }, span);
}

// Calls of the fake wine whose first argument is `command`.
size_t winesRun(const testsupport::FakeWine& wine, const std::string& command) {
    return std::ranges::count_if(wine.calls("wine"), [&](const auto& call) { return call.args.at(0) == command; });
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

// Repair's button stays on screen through the kill and the pause: a second
// click must not start a second repair that deletes the user's prefix, nor
// may an installer dropped meanwhile run.
TEST(ActivityRaces, ASecondRepairClickAndADropDuringRepairAreIgnored) {
    Installed app;
    app.launcher.buildWindow();
    app.wine.set("wineboot.exit", 1);
    const size_t before = winesRun(app.wine, "wineboot");
    uitest::answerNextAlert("Repair");
    app.launcher.d().onRepair();
    pumpFor(1s);
    uitest::answerNextAlert("Repair");
    app.launcher.d().onRepair();
    const std::string dropped = app.launcher.home.tmp() + "/SteamSetup.exe";
    testsupport::writeFile(dropped, "MZ");
    app.launcher.d().handleDroppedInstaller(dropped);
    ASSERT_TRUE(app.shows(kRestored));
    pumpFor(6s);  // time for a second repair, had one started, to move the prefix

    EXPECT_EQ(testsupport::readFile(app.steamExe), "installed\n");
    EXPECT_TRUE(fs::exists(Constants::prefixPath() + "/system.reg"));
    EXPECT_EQ(app.backups(), 0u);
    EXPECT_EQ(winesRun(app.wine, "wineboot") - before, 1u) << "exactly one repair rebuilt";
    for (const auto& call : app.wine.calls("wine")) EXPECT_EQ(call.args.at(0).find("SteamSetup"), std::string::npos);
    const std::string log = app.log();
    EXPECT_EQ(count(log, "] [INFO] User dropped installer: " + dropped + "\n"), 1u);
    EXPECT_EQ(count(log, "] [INFO] Repair already in progress, request ignored\n"), 2u);
}

// Steam installed, its Wine alive and the graphics components to deploy: a
// status poll during the slow registry writes paints no Steam screen, and the
// pipeline's own last screen comes after all five of them.
TEST(ActivityRaces, AStatusPollDuringSetupShowsNothing) {
    Installed app;
    fs::remove_all(Constants::prefixPath() + "/drive_c/windows/system32/opengl32.dll");
    app.wine.set("reg.sleep", 1);
    app.wine.setServerAlive(true);
    const size_t before = winesRun(app.wine, "reg");
    const auto regWrites = [&] { return winesRun(app.wine, "reg") - before; };
    std::vector<size_t> writesAtSteamScreens;
    struct Watch : QObject {
        std::function<void()> check;
        bool eventFilter(QObject*, QEvent*) override { return check(), false; }
    } watch;
    std::string last;
    watch.check = [&] {
        if (!app.launcher.d().statusLabel) return;
        const std::string now = app.launcher.status();
        if (now != last && now.starts_with("Steam ")) writesAtSteamScreens.push_back(regWrites());
        last = now;
    };
    QCoreApplication::instance()->installEventFilter(&watch);
    app.launcher.launch();
    ASSERT_TRUE(uitest::pumpUntil([&] { return regWrites() > 0; }));
    app.launcher.d().updateSteamStatus();
    pumpFor(1s);
    app.launcher.d().updateSteamStatus();
    ASSERT_TRUE(app.shows("Steam launching..."));
    QCoreApplication::instance()->removeEventFilter(&watch);
    EXPECT_EQ(writesAtSteamScreens, std::vector<size_t>{5});
}

// Close Steam: the killed Steam's exit notice must not bring up the ready
// screen before the kill and the pause are over; once it is up, its button works.
TEST(ActivityRaces, CloseSteamShowsReadyOnlyWhenDoneAndItsButtonThenWorks) {
    Installed app;
    app.launcher.launch();
    ASSERT_TRUE(app.shows(kReady));
    app.launcher.d().mainButton->click();
    ASSERT_TRUE(app.shows("Steam launching..."));
    ASSERT_TRUE(uitest::pumpUntil([&] { return app.wine.serverAlive(); }));
    app.launcher.d().mainButton->click();  // Close Steam
    ASSERT_TRUE(app.shows(kReady));
    app.launcher.d().mainButton->click();  // Open Steam, at once
    EXPECT_TRUE(app.shows("Steam launching...", 30s)) << "the click on the ready screen was dropped";
    EXPECT_EQ(count(app.log(), "] [INFO] Launching Steam\n"), 2u);
}

// The launcher killed, or quit by the user, between the repair's move aside
// and the end of its rebuild: the next start puts the user's prefix back.
class RepairCutShort : public ::testing::TestWithParam<const char*> {};

TEST_P(RepairCutShort, TheNextStartPutsTheOldPrefixBack) {
    const std::string role = GetParam();
    Installed app;
    app.wine.set("wineboot.create", "noreg");
    app.wine.set("wineboot.sleep", 60);
    const size_t before = winesRun(app.wine, "wineboot");
    auto child = platform::Subprocess::start(
        {fs::read_symlink("/proc/self/exe"),
         {},
         {{"HOME", app.launcher.home.home()}, {"TMPDIR", app.launcher.home.tmp()}, {"FERROWICK_UI_CHILD", role}}});
    ASSERT_TRUE(child.process) << child.error;
    ASSERT_TRUE(uitest::pumpUntil([&] { return winesRun(app.wine, "wineboot") > before; }));
    if (role == "repair") child.process->sendSignal(SIGKILL);
    const auto ended = child.process->waitFor(60);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->signaled, role == "repair");
    ASSERT_EQ(app.backups(), 1u);
    ASSERT_FALSE(fs::exists(Constants::prefixPath() + "/system.reg"));

    app.wine.configure({});
    app.launcher.launch();
    ASSERT_TRUE(app.shows(kReady));
    EXPECT_EQ(testsupport::readFile(app.steamExe), "installed\n");
    EXPECT_EQ(app.backups(), 0u);
    EXPECT_EQ(count(app.log(), "] [INFO] Restoring the installation an interrupted repair moved aside: " +
                                   Constants::prefixPath() + ".backup."),
              1u);
}

INSTANTIATE_TEST_SUITE_P(ActivityRaces, RepairCutShort, ::testing::Values("repair", "repairThenQuit"));

namespace uitest {

// The launcher process the tests above end: it confirms a repair and runs
// until it is killed ("repair"), or until the user quits once the rebuild has
// begun ("repairThenQuit"; quitting runs applicationWillTerminate, then the
// process ends while the repair's work item is still blocked).
int runChild(const std::string& role) {
    AppDelegate app;
    app.setupMenuBar(), app.setupWindow();
    uitest::answerNextAlert("Repair");
    app.onRepair();
    const std::string calls = Constants::wineDir() + "/bin/fake-wine.calls";
    const size_t before = count(testsupport::readFile(calls), "wineboot");
    pumpUntil([&] { return role == "repairThenQuit" && count(testsupport::readFile(calls), "wineboot") > before; },
              120s);
    app.applicationWillTerminate();
    return 0;
}

}  // namespace uitest
