// How long the main loop stays blocked while the Steam session is polled with
// Steam running: the lateness of a 1 ms timer on the main loop during 30 s of
// 5-second polls, less the time the thread waited for a CPU. The anchor runs the same polls with the probes inline on
// the main loop, as a blocking poll would; ours is SteamSessionMonitor, which
// probes on background work items. Both run here, in the same process, against
// the fake Wine runtime and its fake Steam client.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "BenchUtil.h"
#include "common/Constants.h"
#include "controller/SteamSessionMonitor.h"
#include "platform/MainQueue.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/RecordingFrontEnd.h"
#include "support/TestHome.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr auto kRun = 30s;
constexpr auto kPollInterval = 5s;
constexpr auto kTimer = 1ms;

struct Figures {
    double maxLatenessMs = 0;  // less the time the loop's thread waited for a CPU
    double maxRawMs = 0;       // wall clock
    int polls = 0;
};

// A main loop with a 1 ms timer and a poll every 5 s; returns the timer's
// worst lateness.
Figures runLoop(platform::ManualQueue& queue, const std::function<void()>& poll) {
    Figures f;
    const auto start = Clock::now();
    auto nextTimer = start + kTimer;
    auto nextPoll = start;
    double waitAtTimer = benchutil::runQueueWaitMs();
    while (Clock::now() - start < kRun) {
        auto wake = std::min(nextTimer, nextPoll);
        queue.drainUntil([] { return false; }, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::max(Clock::duration::zero(), wake - Clock::now())));
        const auto now = Clock::now();
        if (now >= nextTimer) {
            const double lateMs = std::chrono::duration<double, std::milli>(now - nextTimer).count();
            const double wait = benchutil::runQueueWaitMs();
            f.maxLatenessMs = std::max(f.maxLatenessMs, lateMs - (wait - waitAtTimer));
            f.maxRawMs = std::max(f.maxRawMs, lateMs);
            nextTimer = now + kTimer;
            waitAtTimer = wait;
        }
        if (Clock::now() >= nextPoll) {
            poll();
            ++f.polls;
            nextPoll += kPollInterval;
        }
    }
    return f;
}

}  // namespace

int main() {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    wine.set("server.lifetime", "600");
    testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
    platform::ManualQueue queue;
    queue.install();
    ProcessLauncher launcher;
    testsupport::RecordingFrontEnd frontEnd;
    SteamSessionMonitor monitor(launcher, frontEnd);
    monitor.startSteam();
    while (!ProcessLauncher::isSteamReady()) std::this_thread::sleep_for(20ms);

    // Anchor: the same decisions with every probe on the main loop.
    SteamSessionRules::Fields fields = monitor.fields();
    const Figures inlineFigures = runLoop(queue, [&] {
        const bool wineRunning = SteamSessionMonitor::isWineRunning();
        std::optional<bool> ready;
        if (SteamSessionRules::needsReadinessProbe(fields.steamPhase, wineRunning)) {
            ready = ProcessLauncher::isSteamReady();
        }
        fields = SteamSessionRules::tick(fields, wineRunning, ready, Clock::now()).fields;
    });
    const Figures oursFigures = runLoop(queue, [&] { monitor.updateSteamStatus(); });

    std::printf(
        "status ticks with Steam running: %d polls inline, %d polls ours (final phase %d); wall-clock "
        "worst: inline %.1f ms, ours %.1f ms\n",
        inlineFigures.polls, oursFigures.polls, static_cast<int>(monitor.fields().steamPhase), inlineFigures.maxRawMs,
        oursFigures.maxRawMs);
    benchutil::printRow({3, "Longest main-thread stall, 30 s of status ticks, Steam running (fake runtime)",
                         benchutil::format("%.1f ms", oursFigures.maxLatenessMs),
                         benchutil::format("probes inline %.0f ms", inlineFigures.maxLatenessMs),
                         benchutil::format("%.3f", oursFigures.maxLatenessMs / inlineFigures.maxLatenessMs), "< 16 ms",
                         oursFigures.maxLatenessMs < 16});

    queue.drainUntil([&] { return !monitor.isBusy(); }, 60s);
    monitor.applicationWillTerminate();
    queue.drainUntil([&] { return !launcher.hasGameProcess(); }, 20s);
    platform::MainQueue::setPoster({});
    return 0;
}
