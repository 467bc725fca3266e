// Start-up to first painted frame: the launcher against a bare Qt window of
// the same size started the same way in the same run, as a ratio of medians.
// Also records the idle launcher's resident memory beside the bare window's.
// Each sample is a fresh process; the clock is the system-wide monotonic one,
// read by the parent before the spawn and by the child once it has painted.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
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

constexpr int rounds = 15;
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
            QTimer::singleShot(0, [] { std::printf("painted %lld\n", monotonicNs()); });
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

int child(int argc, char** argv, bool launcher) {
    QApplication app(argc, argv);
    QtMainQueue::install();
    if (!launcher) {
        QWidget window;
        window.setFixedSize(360, 400);
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
    double startupMs;
    long rssKiB;
};

bool sample(const std::string& self, bool launcher, Sample& out) {
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

    platform::SubprocessSpec child{
        self, {launcher ? "--child-launcher" : "--child-bare"}, env, platform::OutputMode::Pipe};
    const long long start = monotonicNs();
    const auto result = platform::Subprocess::run(child);
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    if (!result) return false;
    long long painted = -1;
    out.rssKiB = -1;
    std::istringstream lines(result->output);
    for (std::string word; lines >> word;) {
        if (word == "painted") lines >> painted;
        if (word == "rss") lines >> out.rssKiB;
    }
    if (painted < 0) return false;
    out.startupMs = double(painted - start) / 1e6;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--child-bare") return child(argc, argv, false);
    if (argc > 1 && std::string(argv[1]) == "--child-launcher") return child(argc, argv, true);

    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    std::vector<double> bareMs, launcherMs, bareRss, launcherRss;
    for (int i = 0; i < rounds; ++i) {
        // Interleaved, so drift in the machine's load hits both sides alike.
        for (bool launcher : {false, true}) {
            Sample s{};
            if (!sample(self, launcher, s)) {
                std::fprintf(stderr, "sample failed (%s)\n", launcher ? "launcher" : "bare window");
                return 1;
            }
            (launcher ? launcherMs : bareMs).push_back(s.startupMs);
            (launcher ? launcherRss : bareRss).push_back(double(s.rssKiB));
        }
    }
    const double bare = benchutil::median(bareMs), full = benchutil::median(launcherMs);
    const double bareMiB = benchutil::median(bareRss) / 1024, fullMiB = benchutil::median(launcherRss) / 1024;
    std::printf("start-up medians of %d interleaved pairs: launcher %.1f ms, bare window %.1f ms\n", rounds, full,
                bare);
    benchutil::printRow({1, "Process start to the first painted frame (offscreen)", benchutil::format("%.0f ms", full),
                         benchutil::format("bare Qt window %.0f ms", bare), benchutil::format("%.2fx", full / bare),
                         "<= 1.30x", full / bare <= 1.3});
    benchutil::printRow({2, benchutil::format("Idle resident memory %d ms after the first frame", idleMs),
                         benchutil::format("%.1f MiB", fullMiB), benchutil::format("bare Qt window %.1f MiB", bareMiB),
                         benchutil::format("%.2fx", fullMiB / bareMiB), "<= 1.30x", fullMiB / bareMiB <= 1.3});
    return 0;
}
