// The whole road on Debian's real Wine through the dev build's demo runtime: the real AppDelegate offscreen,
// the runtime from a loopback server, real wineboot, reg and NSIS installers, Windows stand-ins for Steam.
// Runs in a private PID namespace, whose end takes every Wine process with it even when a test fails.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include "app/DropView.h"
#include "logging/DiagnosticsExporter.h"
#include "platform/Subprocess.h"
#include "support/GraphicsBundle.h"
#include "support/HttpTestServer.h"
#include "ui/UiSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kStep1 = "Step 1: Install Steam\nDownload Steam for Windows (.exe),\nthen drag the installer below.";
const std::string kReady = "Launch Quillmoor from\nyour Steam Library.";
const std::string kRunning = "Steam is running.\nPlay Quillmoor from your Library.";

const auto launcherLog = [] { return testsupport::readFile(Logger::logPath()); };
const auto logged = [](const std::string& text) { return launcherLog().find(text) != std::string::npos; };

// Processes in this namespace other than its first one and this test.
std::vector<std::string> otherProcesses() {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename();
        if (!std::isdigit(pid[0]) || pid == "1" || std::stoi(pid) == ::getpid()) continue;
        found.push_back(pid + " " + testsupport::readFile(entry.path().string() + "/cmdline"));
    }
    return found;
}

// The prefix's Wine server: "-w" waits, bounded, until it has ended and so saved the registry; "-k" ends it.
bool wineserver(const char* flag) {
    const auto done = platform::Subprocess::run(
        {Constants::wineserver(), {flag}, Constants::buildSafeEnvironment(Constants::prefixPath())});
    return done && done->exit.status == 0;
}

long backups() {
    return std::count_if(fs::directory_iterator(Constants::supportDir()), {}, [](const fs::directory_entry& e) {
        return e.path().filename().string().starts_with("prefix.backup.");
    });
}

// Each wait below ends true once its stage shows, snapped as `stage` when given.
struct Journey {
    Journey() {
        // The build's own digest for the demo archive; only the port is the test's.
        auto settings = WineDownloader::Settings::defaults();
        settings.downloadURL = server.url();
        d().wineDownloader = std::make_unique<WineDownloader>(settings);
        d().installAsApplicationDelegate();
        SteamSessionMonitor::Options options;
        options.now = [this] { return SteamSessionRules::Clock::now() + ahead; };
        d().replaceSteamSession(std::move(options));
    }
    ~Journey() {
        if (testing::Test::HasFailure())
            std::cerr << testing::PrintToString(screens.texts) << "\n" << launcher.status() << "\n" << launcherLog();
        (void)wineserver("-k");  // the namespace ends it anyway; this ends it cleanly
    }
    AppDelegate& d() { return launcher.d(); }

    // scripts/screenshots --journey runs this on a virtual X display and names
    // a directory: each stage's screen is captured from the display there.
    bool snap(const char* stage) {
        const char* dir = std::getenv("FERROWICK_JOURNEY_DIR");
        if (!dir || !stage) return true;
        uitest::pumpUntil([] { return false; }, 1s);  // let the window paint
        const auto png = QString::asprintf("%s/%02d-%s.png", dir, ++snaps, stage).toStdString();
        (void)platform::Subprocess::run({"/usr/bin/import", {"-window", "root", png}, platform::currentEnvironment()});
        return true;
    }
    // A failed setup ends the wait at once rather than at the limit.
    bool endsOn(const std::string& text, const char* stage = nullptr) {
        const auto& seen = screens.texts;
        uitest::pumpUntil([&] { return seen.back() == text || seen.back().starts_with("Setup failed."); }, 240s);
        return seen.back() == text && snap(stage);
    }
    bool install(const std::string& exe, const std::string& text, const char* stage = nullptr) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(FERROWICK_DEMO_WINDOWS_DIR "/" + exe))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(d().dropZone, &enter);
        QCoreApplication::sendEvent(d().dropZone, &dropped);
        return endsOn(text, stage);
    }
    bool repair(const std::string& text) {
        uitest::answerNextAlert("Repair");
        d().onRepair();
        return endsOn(text);
    }
    // Polls as the status timer would, once a second, until `done` holds between polls.
    bool pollUntil(const std::function<bool()>& done) {
        auto next = std::chrono::steady_clock::now();
        const auto poll = [&] {
            if (d().steamSession().isBusy()) return false;
            if (done()) return true;
            if (std::chrono::steady_clock::now() > next)
                d().updateSteamStatus(), next = std::chrono::steady_clock::now() + 1s;
            return false;
        };
        return uitest::pumpUntil(poll, 120s);
    }
    bool shows(const std::string& text, const char* stage = nullptr) {
        return pollUntil([&] { return launcher.status() == text; }) && snap(stage);
    }
    // Opening from the ready screen first waits out the installer's or last Steam's lingering Wine
    // server, since any live server reads as Steam running.
    bool click(const std::string& text, const char* stage = nullptr) {
        if (launcher.status() == kReady && !wineserver("-w")) return false;
        QTest::mouseClick(d().mainButton, Qt::LeftButton);
        return shows(text, stage);
    }

    uitest::Launcher launcher;
    testsupport::GraphicsBundle bundle{launcher.home.bundle()};
    testsupport::HttpTestServer server{{.filePath = FERROWICK_DEMO_ARCHIVE}};
    uitest::StatusRecorder screens{launcher.d()};
    std::chrono::seconds ahead{0};  // how far the session's clock runs ahead of the real one
    int snaps = 0;
};

}  // namespace

TEST(RealWine, FirstStartToSteamRunningAndQuit) {
    Journey j;
    j.launcher.launch();
    int maxProgress = 0;
    QObject::connect(j.d().progressBar, &QProgressBar::valueChanged,
                     [&](int v) { maxProgress = std::max(maxProgress, v); });
    ASSERT_TRUE(uitest::pumpUntil([&] { return j.d().eulaCheck1->isVisible(); }, 30s) && j.snap("agreement"));
    j.d().eulaCheck1->setChecked(true);
    QTest::mouseClick(j.d().eulaAcceptButton, Qt::LeftButton);
    ASSERT_TRUE(j.endsOn(kStep1, "step1"));
    EXPECT_TRUE(uitest::inOrder(j.screens.texts, {"First-time setup in progress.\nThis may take a few minutes.",
                                                  "Setting up... *", "Creating Wine prefix...",
                                                  "Installing components...", "Configuring environment...", kStep1}));
    EXPECT_EQ(maxProgress, 1000) << "the download's progress reached the bar";

    // The registry report reads the values real reg wrote back from user.reg, without Wine's bookkeeping;
    // Wine's server saves user.reg only when it ends, a few seconds after the last reg.
    ASSERT_TRUE(wineserver("-w"));
    j.d().log.logWineRegistryOverrides();
    EXPECT_TRUE(logged("Prefix created: true"));
    EXPECT_TRUE(logged("  Override: \"opengl32\"=\"native\"\n"));
    EXPECT_TRUE(logged("  Override: \"libgallium_wgl\"=\"native\"\n"));
    EXPECT_FALSE(logged("#time="));

    // An installer that installs nothing leaves the user on step 1, told so.
    ASSERT_TRUE(j.install("EmptySteamSetup.exe", "Steam was not detected after installation.\nPlease try again.",
                          "nothing-installed"));
    EXPECT_TRUE(j.d().dropZone->isVisible()) << "still on step 1";
    ASSERT_TRUE(j.install("SteamSetup.exe", kReady, "steam-ready"));
    const std::string steamDir = Constants::prefixPath() + "/drive_c/Program Files (x86)/Steam";
    EXPECT_TRUE(fs::exists(steamDir + "/bin/cef/steamwebhelper.exe"));

    // Repair rebuilds the real prefix: Steam is gone with the old one, and no backup is left.
    ASSERT_TRUE(j.repair(kStep1) && j.snap("repaired"));
    EXPECT_TRUE(fs::exists(Constants::prefixPath() + "/system.reg") && !fs::exists(steamDir + "/steam.exe"));
    EXPECT_EQ(backups(), 0);
    ASSERT_TRUE(j.install("SteamSetup.exe", kReady));
    // A rebuild that fails (a graphics DLL missing from the bundle) puts the previous prefix back.
    const std::string dll = j.launcher.home.bundle() + "/mesa-i686/libz-1.dll";
    const std::string dllBytes = testsupport::readFile(dll);
    fs::remove(dll);
    ASSERT_TRUE(j.repair("Repair was not successful.\nYour previous installation has been restored.") &&
                j.snap("repair-restored"));
    EXPECT_TRUE(fs::exists(steamDir + "/steam.exe"));
    EXPECT_EQ(backups(), 0);
    testsupport::writeFile(dll, dllBytes);
    j.d().validateAndPrepare();  // as a later start does
    ASSERT_TRUE(j.endsOn(kReady));

    ASSERT_TRUE(j.click(kRunning, "steam-running"));
    EXPECT_EQ(j.d().mainButton->text(), "Close Steam");
    ASSERT_TRUE(j.click(kReady, "steam-closed"));
    EXPECT_FALSE(ProcessLauncher::isAnySteamWebHelperRunning());
    ASSERT_TRUE(j.click(kRunning) && j.click(kReady));

    // A Steam whose web helper never starts is restarted once, then reported as failed. The
    // session's clock runs ahead by the launch timeout at each step instead of waiting it out.
    testsupport::writeFile(steamDir + "/helper_delay.txt", "never");
    ASSERT_TRUE(j.click("Steam launching...", "steam-launching"));
    j.ahead += 106s;
    ASSERT_TRUE(j.pollUntil([] { return logged("Steam stuck on launch, auto-restarting (attempt 1)"); }));
    ASSERT_TRUE(j.shows("Steam launching..."));
    j.ahead += 106s;
    ASSERT_TRUE(j.shows("Steam failed to start.\nTry closing and reopening.", "steam-failed"));
    EXPECT_FALSE(logged("(attempt 2)"));

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
        << testing::PrintToString(otherProcesses());
}
