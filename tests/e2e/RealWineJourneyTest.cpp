// The whole road on Debian's real Wine through the dev build's demo runtime:
// the real AppDelegate on Qt's offscreen platform, the runtime from a loopback
// server, real wineboot and reg, real NSIS installers and Windows stand-ins for
// Steam. Runs in a private PID namespace (tests/CMakeLists.txt), whose end
// takes every Wine process with it even when a test fails.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/DropView.h"
#include "logging/DiagnosticsExporter.h"
#include "platform/Subprocess.h"
#include "support/GraphicsBundle.h"
#include "support/HttpTestServer.h"
#include "ui/UiSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using uitest::inOrder;

namespace {

const std::string kStep1 = "Step 1: Install Steam\nDownload Steam for Windows (.exe),\nthen drag the installer below.";
const std::string kReady = "Launch Quillmoor from\nyour Steam Library.";
const std::string kRunning = "Steam is running.\nPlay Quillmoor from your Library.";

// Processes in this namespace other than its first one and this test.
std::vector<std::string> otherProcesses() {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        if (name == "1" || std::stoi(name) == ::getpid()) continue;
        std::string cmdline = testsupport::readFile(entry.path().string() + "/cmdline");
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        found.push_back(name + " " + cmdline);
    }
    return found;
}

// Waits, bounded, until the prefix's Wine server has ended and so saved the registry.
bool waitForServer() {
    const auto done = platform::Subprocess::run(
        {Constants::wineserver(), {"-w"}, Constants::buildSafeEnvironment(Constants::prefixPath())});
    return done && done->exit.status == 0;
}

// Prefix backups beside the prefix.
int backups() {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(Constants::supportDir())) {
        n += entry.path().filename().string().starts_with("prefix.backup.");
    }
    return n;
}

// For failure messages: what the launcher logged.
std::string launcherLog() {
    return "\n" + testsupport::readFile(Logger::logPath());
}

struct Journey {
    Journey() {
        const auto server = testsupport::HttpTestServer::Options{.filePath = FERROWICK_DEMO_ARCHIVE};
        server_ = std::make_unique<testsupport::HttpTestServer>(server);
        // The build's own digest for the demo archive; only the port is the test's.
        auto settings = WineDownloader::Settings::defaults();
        settings.downloadURL = server_->url();
        d().wineDownloader = std::make_unique<WineDownloader>(settings);
        d().installAsApplicationDelegate();
        SteamSessionMonitor::Options options;
        options.now = [this] { return SteamSessionRules::Clock::now() + ahead; };
        d().replaceSteamSession(std::move(options));
    }
    std::chrono::seconds ahead{0};  // how far the session's clock runs ahead of the real one
    // The start-up sequence, which builds the window.
    void launch() {
        launcher.launch();
        QObject::connect(d().progressBar, &QProgressBar::valueChanged,
                         [this](int v) { maxProgress = std::max(maxProgress, v); });
    }
    ~Journey() {
        // The prefix's server goes with the namespace anyway; this ends it cleanly.
        (void)platform::Subprocess::run(
            {Constants::wineserver(), {"-k"}, Constants::buildSafeEnvironment(Constants::prefixPath())});
    }
    AppDelegate& d() { return launcher.d(); }
    // scripts/screenshots --journey runs this on a virtual X display and names
    // a directory: each stage's screen is captured from the display there.
    void snap(const std::string& stage) {
        const char* dir = std::getenv("FERROWICK_JOURNEY_DIR");
        if (!dir) return;
        uitest::pumpUntil([] { return false; }, 1s);  // let the window paint
        char name[16];
        std::snprintf(name, sizeof name, "%02d-", ++snaps);
        (void)platform::Subprocess::run({"/usr/bin/import",
                                         {"-window", "root", std::string(dir) + "/" + name + stage + ".png"},
                                         platform::currentEnvironment()});
    }
    int snaps = 0;
    bool endsOn(const std::string& text, std::chrono::seconds limit = 240s) {
        // A failed setup ends the wait at once rather than at the limit.
        uitest::pumpUntil(
            [&] { return screens.texts.back() == text || screens.texts.back().starts_with("Setup failed."); }, limit);
        return screens.texts.back() == text;
    }
    void drop(const std::string& path) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(d().dropZone, &enter);
        QCoreApplication::sendEvent(d().dropZone, &dropped);
    }
    // Polls as the status timer would, once a second, until `done` holds between polls.
    bool pollUntil(const std::function<bool()>& done) {
        auto next = std::chrono::steady_clock::now();
        return uitest::pumpUntil(
            [&] {
                if (d().steamSession().isBusy()) return false;
                if (done()) return true;
                if (std::chrono::steady_clock::now() > next) {
                    d().updateSteamStatus();
                    next = std::chrono::steady_clock::now() + 1s;
                }
                return false;
            },
            120s);
    }
    // Clicks the main button, then polls until `text` shows.
    bool clickAndPollUntil(const std::string& text) {
        QTest::mouseClick(d().mainButton, Qt::LeftButton);
        return pollUntil([&] { return launcher.status() == text; });
    }
    static bool logHas(const std::string& text) {
        return testsupport::readFile(Logger::logPath()).find(text) != std::string::npos;
    }

    uitest::Launcher launcher;
    testsupport::GraphicsBundle bundle{launcher.home.bundle()};
    std::unique_ptr<testsupport::HttpTestServer> server_;
    uitest::StatusRecorder screens{launcher.d()};
    int maxProgress = 0;
};

}  // namespace

TEST(RealWine, FirstStartToSteamRunningAndQuit) {
    Journey j;
    j.launch();
    ASSERT_TRUE(uitest::pumpUntil([&] { return j.d().eulaCheck1->isVisible(); }, 30s));
    j.snap("agreement");
    j.d().eulaCheck1->setChecked(true);
    QTest::mouseClick(j.d().eulaAcceptButton, Qt::LeftButton);
    ASSERT_TRUE(j.endsOn(kStep1)) << ::testing::PrintToString(j.screens.texts);
    j.snap("step1");
    EXPECT_TRUE(inOrder(j.screens.texts,
                        {"First-time setup in progress.\nThis may take a few minutes.", "Setting up... *",
                         "Creating Wine prefix...", "Installing components...", "Configuring environment...", kStep1}))
        << ::testing::PrintToString(j.screens.texts);
    EXPECT_EQ(j.maxProgress, 1000) << "the download's progress reached the bar";

    // The registry report reads the values real reg wrote back from user.reg, without Wine's bookkeeping.
    // Wine's server saves user.reg only when it ends, a few seconds after the last reg.
    ASSERT_TRUE(waitForServer());
    j.d().log.logWineRegistryOverrides();
    const std::string log = testsupport::readFile(Logger::logPath());
    EXPECT_NE(log.find("Prefix created: true"), std::string::npos);
    EXPECT_NE(log.find("  Override: \"opengl32\"=\"native\"\n"), std::string::npos) << log;
    EXPECT_NE(log.find("  Override: \"libgallium_wgl\"=\"native\"\n"), std::string::npos);
    EXPECT_EQ(log.find("#time="), std::string::npos);

    // An installer that installs nothing leaves the user on step 1, told so.
    j.drop(FERROWICK_DEMO_WINDOWS_DIR "/EmptySteamSetup.exe");
    ASSERT_TRUE(j.endsOn("Steam was not detected after installation.\nPlease try again.", 120s))
        << ::testing::PrintToString(j.screens.texts);
    EXPECT_TRUE(j.d().dropZone->isVisible()) << "still on step 1";
    j.snap("nothing-installed");
    j.drop(FERROWICK_DEMO_WINDOWS_DIR "/SteamSetup.exe");
    ASSERT_TRUE(j.endsOn(kReady, 120s)) << ::testing::PrintToString(j.screens.texts);
    j.snap("steam-ready");
    EXPECT_TRUE(fs::exists(Constants::prefixPath() + "/drive_c/Program Files (x86)/Steam/bin/cef/steamwebhelper.exe"));

    // Repair rebuilds the real prefix: Steam is gone with the old one, and no backup is left.
    const std::string steamDir = Constants::prefixPath() + "/drive_c/Program Files (x86)/Steam";
    const std::string steamExe = steamDir + "/steam.exe";
    uitest::answerNextAlert("Repair");
    j.d().onRepair();
    ASSERT_TRUE(j.endsOn(kStep1, 240s)) << ::testing::PrintToString(j.screens.texts) << launcherLog();
    EXPECT_TRUE(fs::exists(Constants::prefixPath() + "/system.reg") && !fs::exists(steamExe));
    EXPECT_EQ(backups(), 0);
    j.snap("repaired");
    j.drop(FERROWICK_DEMO_WINDOWS_DIR "/SteamSetup.exe");
    ASSERT_TRUE(j.endsOn(kReady, 120s)) << ::testing::PrintToString(j.screens.texts);
    // A rebuild that fails (a graphics DLL missing from the bundle) puts the previous prefix back.
    const std::string dll = j.launcher.home.bundle() + "/mesa-i686/libz-1.dll";
    const std::string dllBytes = testsupport::readFile(dll);
    fs::remove(dll);
    uitest::answerNextAlert("Repair");
    j.d().onRepair();
    ASSERT_TRUE(j.endsOn("Repair was not successful.\nYour previous installation has been restored.", 240s))
        << ::testing::PrintToString(j.screens.texts) << launcherLog();
    EXPECT_TRUE(fs::exists(steamExe));
    j.snap("repair-restored");
    EXPECT_EQ(backups(), 0);
    testsupport::writeFile(dll, dllBytes);
    j.d().validateAndPrepare();  // as a later start does
    ASSERT_TRUE(j.endsOn(kReady, 120s)) << ::testing::PrintToString(j.screens.texts);

    // The installer's Wine server lingers a few seconds, and any live server reads as Steam running.
    ASSERT_TRUE(waitForServer());
    ASSERT_TRUE(j.clickAndPollUntil(kRunning)) << j.launcher.status() << launcherLog();
    EXPECT_EQ(j.d().mainButton->text(), "Close Steam");
    j.snap("steam-running");
    ASSERT_TRUE(j.clickAndPollUntil(kReady)) << j.launcher.status() << launcherLog();
    EXPECT_FALSE(ProcessLauncher::isAnySteamWebHelperRunning());
    j.snap("steam-closed");
    ASSERT_TRUE(waitForServer());
    ASSERT_TRUE(j.clickAndPollUntil(kRunning)) << j.launcher.status() << launcherLog();

    // A Steam whose web helper never starts is restarted once, then reported as failed. The
    // session's clock runs ahead by the launch timeout at each step instead of waiting it out.
    ASSERT_TRUE(j.clickAndPollUntil(kReady)) << j.launcher.status() << launcherLog();
    testsupport::writeFile(steamDir + "/helper_delay.txt", "never");
    ASSERT_TRUE(waitForServer());
    ASSERT_TRUE(j.clickAndPollUntil("Steam launching...")) << j.launcher.status() << launcherLog();
    j.snap("steam-launching");
    j.ahead += 106s;
    ASSERT_TRUE(j.pollUntil([&] { return j.logHas("Steam stuck on launch, auto-restarting (attempt 1)"); }))
        << launcherLog();
    ASSERT_TRUE(j.pollUntil([&] { return j.launcher.status() == "Steam launching..."; })) << launcherLog();
    j.ahead += 106s;
    ASSERT_TRUE(j.pollUntil([&] {
        return j.launcher.status() == "Steam failed to start.\nTry closing and reopening.";
    })) << j.launcher.status()
        << launcherLog();
    EXPECT_FALSE(j.logHas("(attempt 2)"));
    j.snap("steam-failed");

    // The diagnostics of the real prefix name the runtime's own version.
    const auto archive = DiagnosticsExporter::exportArchive(Constants::prefixPath());
    ASSERT_TRUE(archive);
    const auto version = platform::Subprocess::run({"/usr/bin/unzip",
                                                    {"-p", *archive, "*wine_version.txt"},
                                                    {{"PATH", "/usr/bin:/bin"}},
                                                    platform::OutputMode::PipeStdout});
    ASSERT_TRUE(version);
    EXPECT_EQ(version->output.rfind("wine-11.4 (dev runtime over wine-8.0", 0), 0u) << version->output;

    QTimer::singleShot(0, [&j] { j.d().menuBar()->actions().at(0)->menu()->actions().at(0)->trigger(); });
    QTimer::singleShot(60000, [] { QCoreApplication::exit(1); });  // only to end a hang
    EXPECT_EQ(QApplication::exec(), 0);
    // Quitting leaves nothing of Wine, Steam or the test's children behind.
    EXPECT_TRUE(uitest::pumpUntil([] { return otherProcesses().empty(); }, 30s))
        << ::testing::PrintToString(otherProcesses());
}
