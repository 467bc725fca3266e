// Start-up to first painted frame: the launcher against a bare Qt window of
// the same size started the same way in the same run, as a ratio of medians.
// Also records the idle launcher's resident memory beside the bare window's.
// Each sample is a fresh process; the clock is the system-wide monotonic one,
// read by the parent before the spawn and by the child once it has painted,
// less the time the child's main thread waited for a CPU (this machine is
// shared, and a busy neighbour is not start-up work).
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "app/AppDelegate.h"
#include "app/QtMainQueue.h"
#include "platform/Subprocess.h"

extern char** environ;

namespace {

constexpr int rounds = 21;
constexpr int idleMs = 1500;

long long monotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// Reports the first paint of `window` once it has been flushed, then the
// resident memory after an idle spell, then quits.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted_) {
            painted_ = true;
            QTimer::singleShot(
                0, [] { std::printf("painted %lld waited %.3f\n", monotonicNs(), benchutil::runQueueWaitMs()); });
            QTimer::singleShot(idleMs, [] {
                std::printf("rss %ld\n", residentKiB());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    bool painted_ = false;
};

// The three programs started: the bare window (the anchor), the bare window
// with one line of text (a detail for the log: what painting text costs before
// the first frame), and the launcher.
enum class Kind { bare, text, launcher };
const char* const kKindArgument[] = {"--child-bare", "--child-text", "--child-launcher"};

int child(int argc, char** argv, Kind kind) {
    QApplication app(argc, argv);
    QtMainQueue::install();
    if (kind != Kind::launcher) {
        QWidget window;
        window.setFixedSize(360, 400);
        if (kind == Kind::text) (new QLabel("Checking system...", &window))->setGeometry(20, 165, 320, 60);
        PaintWatch watch(&window);
        window.show();
        return QApplication::exec();
    }
    AppDelegate delegate;
    std::unique_ptr<PaintWatch> watch;
    QTimer::singleShot(0, [&] {
        delegate.applicationDidFinishLaunching();
        watch = std::make_unique<PaintWatch>(delegate.window.get());
    });
    return QApplication::exec();
}

struct Sample {
    double startupMs;  // less the time the child's main thread waited for a CPU
    double wallMs;
    long rssKiB;
};

bool sample(const std::string& self, Kind kind, Sample& out) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string kv = *e;
        const auto eq = kv.find('=');
        if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    char home[] = "/tmp/ferrowick-bench-XXXXXX";
    if (::mkdtemp(home) == nullptr) return false;
    env["HOME"] = home;
    env.emplace("QT_QPA_PLATFORM", "offscreen");

    platform::SubprocessSpec child{self, {kKindArgument[static_cast<int>(kind)]}, env, platform::OutputMode::Pipe};
    const long long start = monotonicNs();
    const auto result = platform::Subprocess::run(child);
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    if (!result) return false;
    long long painted = -1;
    double waitedMs = 0;
    out.rssKiB = -1;
    std::istringstream lines(result->output);
    for (std::string word; lines >> word;) {
        if (word == "painted") lines >> painted;
        if (word == "waited") lines >> waitedMs;
        if (word == "rss") lines >> out.rssKiB;
    }
    if (painted < 0) return false;
    out.wallMs = double(painted - start) / 1e6;
    out.startupMs = out.wallMs - waitedMs;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    for (Kind kind : {Kind::bare, Kind::text, Kind::launcher}) {
        if (argc > 1 && std::string(argv[1]) == kKindArgument[static_cast<int>(kind)]) return child(argc, argv, kind);
    }

    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    std::vector<double> bareMs, launcherMs, textMs, bareWall, launcherWall, bareRss, launcherRss;
    for (int i = 0; i < rounds; ++i) {
        // Interleaved, so drift in the machine's load hits both sides alike.
        for (Kind kind : {Kind::bare, Kind::text, Kind::launcher}) {
            Sample s{};
            if (!sample(self, kind, s)) {
                std::fprintf(stderr, "sample failed (%s)\n", kKindArgument[static_cast<int>(kind)]);
                return 1;
            }
            if (kind == Kind::text) {
                textMs.push_back(s.startupMs);
                continue;
            }
            const bool launcher = kind == Kind::launcher;
            (launcher ? launcherMs : bareMs).push_back(s.startupMs);
            (launcher ? launcherWall : bareWall).push_back(s.wallMs);
            (launcher ? launcherRss : bareRss).push_back(double(s.rssKiB));
        }
    }
    const double bare = benchutil::median(bareMs), full = benchutil::median(launcherMs);
    const double bareMiB = benchutil::median(bareRss) / 1024, fullMiB = benchutil::median(launcherRss) / 1024;
    std::printf(
        "start-up medians of %d interleaved pairs, less CPU waits: launcher %.1f ms, bare window %.1f ms; "
        "wall clock: launcher %.1f ms, bare window %.1f ms\n",
        rounds, full, bare, benchutil::median(launcherWall), benchutil::median(bareWall));
    std::printf("bare window with one line of text, less CPU waits: %.1f ms\n", benchutil::median(textMs));
    // Judged on the times less CPU waits; the wall-clock figures stand beside them.
    const double fullWall = benchutil::median(launcherWall), bareWallMs = benchutil::median(bareWall);
    benchutil::printRow({1, "Process start to the first painted frame (offscreen), less CPU waits (wall clock)",
                         benchutil::format("%.0f ms (%.0f ms)", full, fullWall),
                         benchutil::format("bare Qt window %.0f ms (%.0f ms)", bare, bareWallMs),
                         benchutil::format("%.2fx (%.2fx)", full / bare, fullWall / bareWallMs), "<= 1.30x",
                         full / bare <= 1.3});
    benchutil::printRow({2, benchutil::format("Idle resident memory %d ms after the first frame", idleMs),
                         benchutil::format("%.1f MiB", fullMiB), benchutil::format("bare Qt window %.1f MiB", bareMiB),
                         benchutil::format("%.2fx", fullMiB / bareMiB), "<= 1.30x", fullMiB / bareMiB <= 1.3});
    return 0;
}
