// How long the main loop stays blocked while the Steam session is polled with
// Steam running: the lateness of a 1 ms timer on the main loop during 30 s of
// 5-second polls. The anchor runs the same polls with the probes inline on
// the main loop, as a blocking poll would; ours is SteamSessionMonitor, which
// probes on background work items. Both run here, in the same process, against
// the fake Wine runtime and its fake Steam client.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "platform/MainQueue.h"
#include "process/ProcessLauncher.h"
#include "controller/SteamSessionMonitor.h"
#include "support/FakeWine.h"
#include "support/RecordingSteamHost.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr auto kRun = 30s;
constexpr auto kPollInterval = 5s;
constexpr auto kTimer = 1ms;

struct Figures {
    double maxLatenessMs = 0;
    int polls = 0;
};

// A main loop with a 1 ms timer and a poll every 5 s; returns the timer's
// worst lateness.
Figures runLoop(platform::ManualQueue& queue, const std::function<void()>& poll) {
    Figures f;
    const auto start = Clock::now();
    auto nextTimer = start + kTimer;
    auto nextPoll = start;
    while (Clock::now() - start < kRun) {
        auto wake = std::min(nextTimer, nextPoll);
        queue.drainUntil([] { return false; }, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::max(Clock::duration::zero(), wake - Clock::now())));
        const auto now = Clock::now();
        if (now >= nextTimer) {
            f.maxLatenessMs =
                std::max(f.maxLatenessMs, std::chrono::duration<double, std::milli>(now - nextTimer).count());
            nextTimer = now + kTimer;
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
    testsupport::RecordingSteamHost host;
    SteamSessionMonitor monitor(launcher, host);
    monitor.startSteam();
    while (testsupport::processesMatching("steamwebhelper.exe").empty()) std::this_thread::sleep_for(20ms);

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

    std::printf("main-loop blocking during %lld s of polls with Steam running (1 ms timer lateness)\n",
                static_cast<long long>(kRun.count()));
    std::printf("  anchor, probes inline:         %9.1f ms max (%d polls)\n", inlineFigures.maxLatenessMs,
                inlineFigures.polls);
    std::printf("  ours, probes off the main loop: %8.1f ms max (%d polls, final phase %d)\n",
                oursFigures.maxLatenessMs, oursFigures.polls, static_cast<int>(monitor.fields().steamPhase));
    std::printf("  ratio ours/anchor: %.4f  (target: ours under 16 ms)\n",
                oursFigures.maxLatenessMs / inlineFigures.maxLatenessMs);

    queue.drainUntil([&] { return !monitor.isBusy(); }, 60s);
    monitor.applicationWillTerminate();
    queue.drainUntil([&] { return !launcher.hasGameProcess(); }, 20s);
    platform::MainQueue::setPoster({});
    return 0;
}
