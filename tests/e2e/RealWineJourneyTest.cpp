// A new user's whole road on Debian's real Wine through the dev build's demo runtime: the real AppDelegate, the
// runtime from a loopback server, real wineboot, reg and NSIS installers, Windows stand-ins for Steam. The installers
// are 32-bit where this machine runs 32-bit programs and 64-bit elsewhere (demo/installer-width). It runs in a private
// PID namespace, whose end takes every Wine process with it even when the test fails.
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
#include "app/QtMainQueue.h"
#include "app/Spinner.h"
#include "diagnostics/DiagnosticsExporter.h"
#include "platform/Subprocess.h"
#include "support/GraphicsBundle.h"
#include "support/HttpTestServer.h"
#include "ui/UiSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kStep1 = "Step 1: Install Steam\nDownload Steam for Windows (.exe),\nthen drag the installer below.";
const std::string kReady = "Launch Quillmoor from\nyour Steam Library.", kLaunching = "Steam launching...";

bool logged(const std::string& text) {
    return testsupport::readFile(Logger::logPath()).find(text) != std::string::npos;
}

// The prefix's Wine server: "-w" waits, bounded, until it has ended (and so saved the registry).
bool serverEnded() {
    const auto done = platform::Subprocess::run(
        {Constants::wineserver(), {"-w"}, Constants::buildSafeEnvironment(Constants::prefixPath())});
    return done && done->exit.status == 0;
}

// The last `n` lines of a file, for a failure message.
std::string tail(const std::string& path, std::size_t n = 12) {
    const std::string text = testsupport::readFile(path);
    std::size_t at = text.size();
    for (std::size_t lines = 0; at > 0 && lines <= n; --at)
        if (text[at - 1] == '\n') ++lines;
    return "--- " + path + " (end)\n" + text.substr(at) + "\n";
}

// Which installers this machine runs, "x86" or "x64", as the demo's probe decides; it says why on the test's output.
std::string installerWidth() {
    std::map<std::string, std::string> env{{"PATH", "/usr/bin:/bin"}};
    if (const char* force = std::getenv("FERROWICK_FORCE_WIN64")) env["FERROWICK_FORCE_WIN64"] = force;
    const auto probe = platform::Subprocess::run(
        {FERROWICK_SOURCE_DIR "/demo/installer-width", {}, env, platform::OutputMode::PipeStdout});
    const std::string line = probe ? probe->output : "";
    std::cout << "e2e: " << line.substr(line.find(' ') + 1) << std::flush;
    return line.substr(0, line.find(' '));
}

// Processes of this namespace besides its first one and this test.
long otherProcesses() {
    return std::count_if(fs::directory_iterator("/proc"), {},
                         [](const fs::directory_entry& e) { return std::isdigit(e.path().filename().string()[0]); }) -
           2;
}

}  // namespace

TEST(RealWine, FirstStartToSteamRunningAndQuit) {
    std::chrono::seconds ahead{0};  // how far the session's clock runs ahead of the real one
    uitest::Launcher launcher;
    AppDelegate& d = launcher.d();
    testsupport::GraphicsBundle bundle{launcher.home.bundle()};
    testsupport::HttpTestServer server{{.filePath = FERROWICK_DEMO_ARCHIVE}};
    auto settings = WineDownloader::Settings::defaults();  // the build's own digest; only the port is the test's
    settings.downloadURL = server.url();
    d.wineDownloader = std::make_unique<WineDownloader>(settings);
    d.installAsApplicationDelegate();
    SteamSessionMonitor::Options options;
    options.now = [&] { return SteamSessionRules::Clock::now() + ahead; };
    d.replaceSteamSession(std::move(options));
    uitest::StatusRecorder screens{d};
    const std::string width = installerWidth();
    ASSERT_TRUE(width == "x86" || width == "x64") << "the installer probe answered \"" << width << "\"";
    const std::string installers = std::string(FERROWICK_DEMO_WINDOWS_DIR) + "/" + width;

    // scripts/screenshots --journey names a directory: each stage's screen is captured there from the virtual display.
    int snaps = 0;
    const auto snap = [&](const char* stage) {
        const char* dir = std::getenv("FERROWICK_JOURNEY_DIR");
        if (!dir || !stage) return true;
        uitest::pumpUntil([] { return false; }, 1s);  // let the window paint
        const auto png = QString::asprintf("%s/%02d-%s.png", dir, ++snaps, stage).toStdString();
        (void)platform::Subprocess::run({"/usr/bin/import", {"-window", "root", png}, platform::currentEnvironment()});
        return true;
    };
    // Each wait ends once the window rests (no spinner, no bar) on a screen shown after `from` screens were seen, and
    // succeeds if that screen is `text`. `bound` fits the step; a failure names the step, the screens and the logs.
    const auto endsOn = [&](const char* step, const std::string& text, std::chrono::seconds bound, const char* stage,
                            std::size_t from) -> ::testing::AssertionResult {
        const auto& seen = screens.texts;
        const auto rests = [&] { return !d.spinner->isVisible() && !d.progressBar->isVisible(); };
        uitest::pumpUntil([&] { return seen.back() == text || (seen.size() > from && rests()); }, bound);
        if (seen.back() == text && snap(stage)) return ::testing::AssertionSuccess();
        std::string shown;
        for (std::size_t i = from - 1; i < seen.size(); ++i) shown += "  \"" + seen[i] + "\"\n";
        return ::testing::AssertionFailure()
               << "step \"" << step << "\" (bound " << bound.count() << " s) expected \"" << text << "\"; screens:\n"
               << shown << tail(Logger::logPath()) << tail(Constants::supportDir() + "/setup-output.log");
    };
    const auto install = [&](const char* exe, const std::string& text, const char* stage = nullptr) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(installers + "/" + exe))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        const std::size_t from = screens.texts.size();
        QCoreApplication::sendEvent(d.dropZone, &enter), QCoreApplication::sendEvent(d.dropZone, &dropped);
        return endsOn(exe, text, 90s, stage, from);
    };
    // Polls as the status timer would, once a second, until `done` holds between polls.
    const auto pollUntil = [&](const std::function<bool()>& done, const char* stage = nullptr) {
        auto next = std::chrono::steady_clock::now();
        const auto poll = [&] {
            if (d.steamSession().isBusy() || done()) return !d.steamSession().isBusy();
            if (std::chrono::steady_clock::now() > next)
                d.updateSteamStatus(), next = std::chrono::steady_clock::now() + 1s;
            return false;
        };
        return uitest::pumpUntil(poll, 120s) && snap(stage);
    };
    const auto shows = [&](const std::string& text, const char* stage = nullptr) {
        return pollUntil([&] { return launcher.status() == text; }, stage);
    };
    // From the ready screen, first waits out the installer's or last Steam's lingering Wine server, since any live
    // server reads as Steam running.
    const auto click = [&](const std::string& text, const char* stage = nullptr) {
        if (launcher.status() == kReady && !serverEnded()) return false;
        QTest::mouseClick(d.mainButton, Qt::LeftButton);
        return shows(text, stage);
    };

    launcher.launch();
    int progress = 0;
    QObject::connect(d.progressBar, &QProgressBar::valueChanged, [&](int v) { progress = std::max(progress, v); });
    ASSERT_TRUE(uitest::pumpUntil([&] { return d.eulaCheck1->isVisible(); }, 30s) && snap("agreement"));
    d.eulaCheck1->setChecked(true);
    std::size_t from = screens.texts.size();
    QTest::mouseClick(d.eulaAcceptButton, Qt::LeftButton);
    ASSERT_TRUE(endsOn("first start", kStep1, 240s, "step1", from));
    EXPECT_EQ(progress, 1000) << "the download's progress reached the bar";
    // The report reads what real reg wrote, from user.reg, which Wine's server saves only when it ends.
    ASSERT_TRUE(serverEnded());
    d.log.logWineRegistryOverrides();
    EXPECT_TRUE(logged("Prefix created: true") && logged("  Override: \"opengl32\"=\"native\"\n") &&
                logged("  Override: \"libgallium_wgl\"=\"native\"\n") && !logged("#time="));

    // An installer that installs nothing still leaves its note, so its run is proven.
    const std::string note = Constants::prefixPath() + "/drive_c/users/Public/EmptySteamSetup.txt";
    ASSERT_FALSE(fs::exists(note));
    ASSERT_TRUE(install("EmptySteamSetup.exe", "Steam was not detected after installation.\nPlease try again.",
                        "nothing-installed"));
    EXPECT_EQ(testsupport::readFile(note), width == "x64"
                                               ? "EmptySteamSetup.exe (64-bit) ran and installed nothing.\r\n"
                                               : "EmptySteamSetup.exe (32-bit) ran and installed nothing.\r\n");
    ASSERT_TRUE(install("SteamSetup.exe", kReady, "steam-ready"));
    const std::string steamDir = Constants::prefixPath() + "/drive_c/Program Files (x86)/Steam";

    // Repair rebuilds the real prefix without Steam; a rebuild that fails (a graphics DLL missing) puts it back.
    from = screens.texts.size();
    uitest::answerNextAlert("Repair"), d.onRepair();
    ASSERT_TRUE(endsOn("repair", kStep1, 240s, "repaired", from));
    EXPECT_TRUE(fs::exists(Constants::prefixPath() + "/system.reg") && !fs::exists(steamDir + "/steam.exe"));
    ASSERT_TRUE(install("SteamSetup.exe", kReady));
    const std::string dll = launcher.home.bundle() + "/mesa-i686/libz-1.dll", dllBytes = testsupport::readFile(dll);
    fs::remove(dll);
    from = screens.texts.size();
    uitest::answerNextAlert("Repair"), d.onRepair();
    ASSERT_TRUE(endsOn("failing repair", "Repair was not successful.\nYour previous installation has been restored.",
                       240s, "restored", from));
    EXPECT_TRUE(fs::exists(steamDir + "/steam.exe"));
    testsupport::writeFile(dll, dllBytes);
    from = screens.texts.size();
    d.validateAndPrepare();  // as a later start does
    ASSERT_TRUE(endsOn("later start", kReady, 90s, nullptr, from));

    ASSERT_TRUE(click("Steam is running.\nPlay Quillmoor from your Library.", "steam-running"))
        << tail(Logger::logPath());
    ASSERT_TRUE(click(kReady, "steam-closed")) << tail(Logger::logPath());
    EXPECT_FALSE(ProcessLauncher::isAnySteamWebHelperRunning());

    // Opened again, with a web helper that never starts: one restart, then failed. The session's clock runs ahead
    // instead of waiting out the launch timeout.
    testsupport::writeFile(steamDir + "/helper_delay.txt", "never");
    ASSERT_TRUE(click(kLaunching, "steam-launching")) << tail(Logger::logPath());
    ahead += 106s;
    ASSERT_TRUE(pollUntil([] { return logged("Steam stuck on launch, auto-restarting (attempt 1)"); }))
        << tail(Logger::logPath());
    ASSERT_TRUE(shows(kLaunching)) << tail(Logger::logPath());
    ahead += 106s;
    ASSERT_TRUE(shows("Steam failed to start.\nTry closing and reopening.", "steam-failed")) << tail(Logger::logPath());
    EXPECT_FALSE(logged("(attempt 2)"));

    const auto archive = DiagnosticsExporter::exportArchive(Constants::prefixPath());
    const auto version = platform::Subprocess::run({"/usr/bin/unzip",
                                                    {"-p", archive.value_or(""), "*wine_version.txt"},
                                                    {{"PATH", "/usr/bin:/bin"}},
                                                    platform::OutputMode::PipeStdout});
    ASSERT_TRUE(version);
    EXPECT_TRUE(version->output.starts_with("wine-11.4 (dev runtime over wine-8.0")) << version->output;

    // Quitting leaves nothing of Wine, Steam or the test's children behind.
    QTimer::singleShot(0, [&] { d.menuBar()->actions().at(0)->menu()->actions().at(0)->trigger(); });
    QTimer::singleShot(60000, [] { QCoreApplication::exit(1); });  // only to end a hang
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(uitest::pumpUntil([] { return otherProcesses() == 0; }, 30s)) << otherProcesses();
}

// Offscreen unless scripts/screenshots --journey asks for the real (virtual) display.
int main(int argc, char** argv) {
    if (!::getenv("FERROWICK_JOURNEY_DIR")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QtMainQueue::install();
    return RUN_ALL_TESTS();
}
