// The road a user waits for, on real Wine: Debian's Wine behind the dev
// build's demo runtime, the runtime archive served over loopback, and the
// demo's Windows stand-in for Steam copied into the prefix as its installer
// leaves it. Each round is one launcher in a child process (its own HOME, the
// real AppDelegate on Qt's offscreen platform) that goes through
//   - a first start, from Continue on the agreement to Step 1;
//   - return starts to the Steam-ready screen;
//   - Open Steam to "Steam is running.";
// each against an anchor that runs the same work directly, with the same
// wrappers, in the same round:
//   - first start: the system checks, `curl` and `tar` of the same archive,
//     the version checks, wineboot, `wineserver -w`, the five `reg add`
//     commands and the hashes of the deployed DLLs (run by this parent);
//   - return start: the probes and the probe's fixed pause (LauncherWork.h);
//   - Open Steam: the main button's Wine probe, Steam started directly, then
//     the two ready polls, 5 s apart, that "running" requires, each the Wine
//     probe and the readiness check.
// The launcher's status timer is restarted at the click, so its polls fall
// 5 s and 10 s after it as the anchor's do. The launcher ends web helpers by
// name (pkill -f), so this runs only in a private PID namespace.
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "LauncherWork.h"
#include "app/AppDelegate.h"
#include "app/QtMainQueue.h"
#include "common/Constants.h"
#include "common/WineText.h"
#include "controller/SteamSessionMonitor.h"
#include "process/ProcessLauncher.h"
#include "support/GraphicsBundle.h"
#include "support/HttpTestServer.h"
#include "support/TestHome.h"
#include "wine/WineDownloader.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kRounds = 3, kReturnStartsPerRound = 2;
const std::string kStep1 = "Step 1: Install Steam\nDownload Steam for Windows (.exe),\nthen drag the installer below.";
const std::string kReady = "Launch Quillmoor from\nyour Steam Library.";
const std::string kRunning = "Steam is running.\nPlay Quillmoor from your Library.";
const std::string kSteamExe = std::string(FERROWICK_DEMO_WINDOWS_DIR) + "/steam.exe";
const std::string kHelperExe = std::string(FERROWICK_DEMO_WINDOWS_DIR) + "/steamwebhelper.exe";

// Runs the main loop, checking `done` every millisecond; false after `limit`.
bool runUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (done() || std::chrono::steady_clock::now() > deadline) loop.quit();
    });
    timer.start(1);
    loop.exec();
    return done();
}

// Waits, untimed, until the prefix's Wine server has ended, so that the next
// step starts with nothing running.
void settle() {
    (void)launcherwork::serverWait();
}

// The Windows executable's machine type, from its PE header.
std::string peWidth(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    uint32_t peOffset = 0;
    uint16_t machine = 0;
    in.seekg(0x3C), in.read(reinterpret_cast<char*>(&peOffset), 4);
    in.seekg(peOffset + 4), in.read(reinterpret_cast<char*>(&machine), 2);
    return !in ? "unknown" : machine == 0x8664 ? "64-bit" : machine == 0x14C ? "32-bit" : "other";
}

// Steam as its installer leaves it in the prefix.
void placeSteam() {
    const std::string dir = fs::path(Constants::prefixPath() + Constants::steamExeUnix).parent_path().string();
    fs::create_directories(dir + "/bin/cef");
    fs::copy_file(kSteamExe, dir + "/steam.exe", fs::copy_options::overwrite_existing);
    fs::copy_file(kHelperExe, dir + "/bin/cef/steamwebhelper.exe", fs::copy_options::overwrite_existing);
}

// The main button's Wine probe, Steam started directly, then the two ready
// polls 5 and 10 s after the start; the time to the end of the second poll.
// `ready` tells whether both found Steam ready, as they must for the launcher
// to show it running.
double openSteamAnchor(bool& ready) {
    const auto start = std::chrono::steady_clock::now();
    (void)SteamSessionMonitor::isWineRunning();
    auto steam = platform::Subprocess::start({Constants::wineBin(),
                                              {Constants::steamExePath},
                                              Constants::buildSafeEnvironment(Constants::prefixPath()),
                                              platform::OutputMode::Null});
    ready = steam.process != nullptr;
    for (int poll = 1; poll <= 2; ++poll) {
        std::this_thread::sleep_until(start + poll * 5s);
        ready = SteamSessionMonitor::isWineRunning() && ProcessLauncher::isSteamReady() && ready;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    (void)platform::Subprocess::run(
        {Constants::wineserver(), {"-k"}, Constants::buildSafeEnvironment(Constants::prefixPath())});
    benchutil::runTool("/usr/bin/pkill", {"-9", "-f", "steamwebhelper.exe"});
    if (steam.process) (void)steam.process->wait();
    return seconds;
}

// One launcher's road, in this child process; prints "first S", "return S
// ANCHOR_S" and "open S ANCHOR_S READY" lines for the parent, among details.
int journey(int argc, char** argv, const std::string& url) {
    ::dup2(STDOUT_FILENO, STDERR_FILENO);  // the parent reads one pipe
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QtMainQueue::install();
    testsupport::TestHome home;  // before anything reads HOME
    fs::copy(FERROWICK_BUNDLE_DIR "/AppIcon.png", home.bundle() + "/AppIcon.png");
    testsupport::GraphicsBundle bundle(home.bundle());
    AppDelegate d;
    auto settings = WineDownloader::Settings::defaults();  // the build's own digest; only the port is ours
    settings.downloadURL = url;
    d.wineDownloader = std::make_unique<WineDownloader>(settings);
    const auto status = [&] { return d.statusLabel ? d.statusLabel->text().toStdString() : ""; };
    // The screen shows, and the setup that showed it has ended.
    const auto reaches = [&](const std::string& text) {
        return runUntil(
                   [&] { return (status() == text && !d.activity().busy()) || status().starts_with("Setup failed"); },
                   300s) &&
               status() == text;
    };

    d.applicationDidFinishLaunching();
    d.statusTimer->stop();  // restarted for Open Steam only: its polls elsewhere would add noise
    if (!runUntil([&] { return d.eulaCheck1->isVisible(); }, 60s)) return std::fprintf(stderr, "no agreement\n"), 1;
    d.eulaCheck1->setChecked(true);
    bool ok = false;
    const double first = benchutil::secondsOf([&] {
        d.eulaAcceptButton->click();
        ok = reaches(kStep1);
    });
    if (!ok) return std::fprintf(stderr, "the first start ended on \"%s\"\n", status().c_str()), 1;
    std::printf("first %.3f\n", first);
    std::istringstream log(testsupport::readFile(Logger::logPath()));
    for (std::string line; std::getline(log, line);)
        if (line.find("[PERF]") != std::string::npos) std::fprintf(stderr, "launcher: %s\n", line.c_str());
    placeSteam();

    for (int i = 0; i < kReturnStartsPerRound; ++i) {
        settle();
        const double anchor = launcherwork::returnStart(bundle);
        d.statusLabel->clear();
        const double ours = benchutil::secondsOf([&] {
            d.validateAndPrepare();
            ok = reaches(kReady);
        });
        if (!ok) return std::fprintf(stderr, "a return start ended on \"%s\"\n", status().c_str()), 1;
        std::printf("return %.3f %.3f\n", ours, anchor);
    }

    settle();
    bool anchorReady = false;
    const double anchor = openSteamAnchor(anchorReady);
    settle();
    runUntil([&] { return !d.steamSession().isBusy(); }, 30s);
    const double ours = benchutil::secondsOf([&] {
        d.mainButton->click();
        d.statusTimer->start();
        ok = runUntil([&] { return status() == kRunning; }, 120s);
    });
    if (!ok) return std::fprintf(stderr, "Open Steam ended on \"%s\"\n", status().c_str()), 1;
    std::printf("open %.3f %.3f %d\n", ours, anchor, anchorReady ? 1 : 0);
    std::fflush(stdout);

    d.mainButton->click();  // closes Steam: ends the server and every web helper
    runUntil([&] { return status() == kReady && !d.steamSession().isBusy(); }, 60s);
    d.statusTimer->stop();
    settle();
    return 0;
}

// The first start's work run directly, in this process's own HOME: the system
// checks, the download and unpacking, the version checks, the prefix, the
// registry and the deployed DLLs' hashes. Each part is timed on its own.
double firstStartAnchor(const testsupport::TestHome& home, const testsupport::GraphicsBundle& bundle,
                        const std::string& url) {
    const std::string archive = home.tmp() + "/wine.tar.xz", staging = home.tmp() + "/staging";
    fs::create_directories(staging), fs::create_directories(fs::path(Constants::wineDir()).parent_path());
    double sum = 0;
    std::string parts;  // each part's seconds, for the log
    const auto part = [&](const char* name, double seconds) {
        sum += seconds, parts += benchutil::format(" %s %.2f", name, seconds);
    };
    part("checks", launcherwork::systemChecks(bundle));
    part("curl", launcherwork::timedRun(
                     {"/usr/bin/curl", {"-s", "-o", archive, url}, benchutil::pathOnly(), platform::OutputMode::Pipe}));
    part("tar",
         launcherwork::timedRun(
             {"/usr/bin/tar", {"xf", archive, "-C", staging}, benchutil::pathOnly(), platform::OutputMode::Pipe}));
    fs::rename(staging + benchutil::kRuntimeInStage, Constants::wineDir());
    part("version", launcherwork::runtimeCheck());  // the installation's own check
    part("checks",
         launcherwork::systemChecks(bundle) + launcherwork::runtimeCheck() + launcherwork::wineCommand({"--version"}));
    fs::create_directories(Constants::prefixPath());
    part("wineboot", launcherwork::wineCommand({"wineboot"}));
    part("wineserver-w", launcherwork::serverWait());
    for (const auto& artifact : bundle.manifest().artifacts) {
        const std::string target = RuntimeValidator::deployedPath(Constants::prefixPath(), artifact);
        fs::copy_file(bundle.fileOf(artifact), target, fs::copy_options::overwrite_existing);
    }
    const std::string overrides = "HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides",
                      debugger = "HKEY_CURRENT_USER\\Software\\Wine\\WineDbg";
    for (const auto& command : std::vector<std::vector<std::string>>{
             {"reg", "add", overrides, "/v", "opengl32", "/d", "native", "/f"},
             {"reg", "add", overrides, "/v", "libgallium_wgl", "/d", "native", "/f"},
             {"reg", "add", debugger, "/v", "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f"},
             {"reg", "add", debugger, "/v", "BreakOnFirstChance", "/t", "REG_DWORD", "/d", "0", "/f"},
             {"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\Quillmoor.exe", "/v", "Version", "/d",
              "winxp", "/f"}})
        part("reg", launcherwork::wineCommand(command));
    part("hashes", launcherwork::deployedChecks(bundle));
    std::printf("first start, directly:%s\n", parts.c_str());
    settle();
    for (const std::string& leftover : {Constants::prefixPath(), Constants::wineDir(), archive, staging})
        fs::remove_all(leftover);
    return sum;
}

// Why the rows cannot be measured here, or "" when they can.
std::string missing() {
    // Process 1 of the namespace, or process 2 under a reaper.
    if (::getpid() > 2) return "not in a private PID namespace (bench/run starts it in one)";
    if (!fs::exists(FERROWICK_DEMO_ARCHIVE)) return "no demo runtime archive (no Debian Wine at configure time)";
    if (!fs::exists(kSteamExe) || !fs::exists(kHelperExe)) return "no demo Windows programs (no MinGW-w64 or NSIS)";
    if (!benchutil::runTool("/usr/lib/wine/wine64", {"--version"})) return "Debian's 64-bit Wine does not run here";
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--journey") return journey(argc, argv, argv[2]);
    const std::string width = peWidth(kSteamExe);
    const std::string figures[] = {
        "First start on real Wine, Continue on the agreement to Step 1 (runtime over loopback)",
        "Return start on real Wine, \"Checking system...\" to the Steam-ready screen",
        "Open Steam on real Wine to \"Steam is running.\" (" + width + " Steam stand-in)"};
    if (const std::string why = missing(); !why.empty()) {
        std::fprintf(stderr, "real Wine rows not measured: %s\n", why.c_str());
        for (int i = 0; i < 3; ++i)
            benchutil::printRow({16 + i, figures[i], "not measured: " + why, "-", "-", "-", false});
        return 0;
    }

    testsupport::TestHome home;
    testsupport::GraphicsBundle bundle(home.bundle());
    testsupport::HttpTestServer server({.filePath = FERROWICK_DEMO_ARCHIVE});
    const std::string self = fs::canonical("/proc/self/exe").string();
    std::vector<double> first, firstAnchor, back, backAnchor, open, openAnchor;
    bool anchorsReady = true;
    for (int round = 0; round < kRounds; ++round) {
        // The first start's anchor goes first in even rounds and last in odd
        // ones, so neither side always follows the other's clean-up.
        if (round % 2 == 0) firstAnchor.push_back(firstStartAnchor(home, bundle, server.url()));
        const auto child = platform::Subprocess::run(
            {self, {"--journey", server.url()}, platform::currentEnvironment(), platform::OutputMode::PipeStdout});
        if (round % 2 == 1) firstAnchor.push_back(firstStartAnchor(home, bundle, server.url()));
        std::istringstream lines(child ? child->output : "");
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string word;
            double ours = 0, anchor = 0;
            int ready = 0;
            fields >> word;
            if (word == "first" && fields >> ours) {
                first.push_back(ours);
            } else if (word == "return" && fields >> ours >> anchor) {
                back.push_back(ours), backAnchor.push_back(anchor);
            } else if (word == "open" && fields >> ours >> anchor >> ready) {
                open.push_back(ours), openAnchor.push_back(anchor), anchorsReady = anchorsReady && ready == 1;
            } else {
                std::printf("round %d: %s\n", round, line.c_str());
            }
        }
        if (!child || child->exit.status != 0) std::fprintf(stderr, "round %d: the launcher's road failed\n", round);
    }
    const auto wine = platform::Subprocess::run(
        {"/usr/lib/wine/wine64", {"--version"}, benchutil::pathOnly(), platform::OutputMode::PipeStdout});
    std::printf(
        "the demo runtime over /usr/lib/wine/wine64 (%s); Steam stand-in: %s; %zu first starts, %zu return "
        "starts, %zu Steam opens\n",
        wine ? WineText::trimWhitespace(wine->output).c_str() : "?", width.c_str(), first.size(), back.size(),
        open.size());
    if (!anchorsReady) std::fprintf(stderr, "an Open Steam anchor did not find Steam ready at both polls\n");

    const auto ratioRow = [](int order, const std::string& figure, const std::vector<double>& ours,
                             const std::vector<double>& anchor, const char* anchorName) {
        const double mine = benchutil::median(ours), theirs = benchutil::median(anchor);
        const bool measured = !ours.empty() && ours.size() == anchor.size();
        benchutil::printRow({order, figure, benchutil::format("%.2f s", mine),
                             benchutil::format("%s %.2f s", anchorName, theirs),
                             benchutil::format("%.3fx", mine / theirs), "<= 1.10x", measured && mine / theirs <= 1.1});
    };
    ratioRow(16, figures[0], first, firstAnchor, "the same commands run directly");
    ratioRow(17, figures[1], back, backAnchor, "probes + pause");
    const double mine = benchutil::median(open), theirs = benchutil::median(openAnchor);
    benchutil::printRow({18, figures[2], benchutil::format("%.2f s (%+.2f s)", mine, mine - theirs),
                         benchutil::format("probe, Steam started directly, 2 ready polls 5 s apart %.2f s", theirs),
                         benchutil::format("%.3fx", mine / theirs), "<= 1.10x",
                         !open.empty() && anchorsReady && mine / theirs <= 1.1});
    return 0;
}
