#include "controller/SteamSessionMonitor.h"

#include <thread>

#include "common/Constants.h"
#include "logging/Logger.h"
#include "platform/Background.h"
#include "platform/ThreadContract.h"
#include "process/ProcessLauncher.h"
#include "wine/PrefixManager.h"

using namespace SteamSessionRules;

SteamSessionMonitor::SteamSessionMonitor(ProcessLauncher& launcher, FrontEnd& frontEnd)
    : SteamSessionMonitor(launcher, frontEnd, Options{}) {}

SteamSessionMonitor::SteamSessionMonitor(ProcessLauncher& launcher, FrontEnd& frontEnd, Options options)
    : launcher_(launcher), frontEnd_(frontEnd), options_(std::move(options)), self_(this) {
    if (!options_.isSteamReady) options_.isSteamReady = ProcessLauncher::isSteamReady;
    if (!options_.isWineRunning) options_.isWineRunning = isWineRunning;
    if (!options_.now) options_.now = Clock::now;
    if (!options_.steamInstalled) {
        options_.steamInstalled = [] { return PrefixManager().steamInstalled(); };
    }
}

SteamSessionMonitor::~SteamSessionMonitor() = default;

bool SteamSessionMonitor::isWineRunning() {
    return ProcessLauncher::isOurWineserverRunning() || ProcessLauncher::isAnySteamWebHelperRunning();
}

// `work` must not touch the monitor: it may outlive it. `then` runs only while
// the monitor exists.
void SteamSessionMonitor::inBackground(std::function<void()> work, std::function<void()> then) {
    platform::runInBackground([self = self_.handle(), work = std::move(work), then = std::move(then)]() mutable {
        work();
        self.post([then = std::move(then)](SteamSessionMonitor&) { then(); });
    });
}

// The kill of a restart or a close, and its pause, off the main thread.
void SteamSessionMonitor::killThenPause(std::chrono::milliseconds pause, std::function<void()> then) {
    inBackground(
        [&launcher = launcher_, pause] {
            launcher.killAll();
            std::this_thread::sleep_for(pause);
        },
        std::move(then));
}

void SteamSessionMonitor::updateSteamStatus() {
    FERROWICK_MAIN_THREAD();
    // A restart called off by a close may still be in its kill: a poll now
    // could begin a second restart that the first one's end would double.
    if (tickInFlight_ || buttonInFlight_ || restartInFlight_ || stepAside()) return;
    if (!tickAllowed(fields_, frontEnd_.eulaAccepted(), options_.steamInstalled())) return;
    tickInFlight_ = true;
    const uint64_t epoch = epoch_, generation = activityGeneration();
    auto wine = std::make_shared<bool>(false);
    // The Wine probe is taken before the phase is looked at; the phase is then
    // read on the main thread to decide whether readiness must be probed too.
    // Our own Steam client running is Wine running: a client just (re)launched
    // has no server to find yet, and reading it as gone would drop the launch
    // being watched, and with it the count of automatic restarts.
    inBackground(
        [probe = options_.isWineRunning, &launcher = launcher_, wine] {
            const bool found = probe();  // every tick takes its probe
            *wine = found || launcher.isRunning();
        },
        [this, wine, epoch, generation] {
            if (epoch != epoch_ || stepAside() || !needsReadinessProbe(fields_.steamPhase, *wine)) {
                finishTick(epoch, generation, *wine, std::nullopt);
                return;
            }
            auto ready = std::make_shared<bool>(false);
            inBackground([probe = options_.isSteamReady, ready] { *ready = probe(); },
                         [this, wine, ready, epoch, generation] { finishTick(epoch, generation, *wine, *ready); });
        });
}

void SteamSessionMonitor::finishTick(uint64_t epoch, uint64_t generation, bool wineRunning,
                                     std::optional<bool> steamReady) {
    tickInFlight_ = false;
    // Something else moved the session, or another activity began, while this
    // poll probed: its answers describe a state that is gone.
    if (epoch != epoch_ || generation != activityGeneration() || stepAside() || fields_.isAutoRestarting) return;
    apply(tick(fields_, wineRunning, steamReady, options_.now()));
}

void SteamSessionMonitor::onMainButton() {
    FERROWICK_MAIN_THREAD();
    if (buttonInFlight_ || stepAside()) return;
    buttonInFlight_ = true;
    if (launcher_.isRunning()) {
        beginClose();
        return;
    }
    auto wine = std::make_shared<bool>(false);
    const uint64_t epoch = epoch_, generation = activityGeneration();
    inBackground([probe = options_.isWineRunning, wine] { *wine = probe(); },
                 [this, wine, epoch, generation] {
                     // An answer that comes after a repair or setup began is dropped,
                     // and so is a start decided on a session that a poll or Steam's
                     // exit has moved since. A close still closes: it is what was asked.
                     const bool starts = mainButtonStarts(launcher_.isRunning(), *wine);
                     if (generation != activityGeneration() || stepAside() || (starts && epoch != epoch_)) {
                         buttonInFlight_ = false;
                         return;
                     }
                     if (starts) {
                         buttonInFlight_ = false;
                         startSteam();
                     } else {
                         beginClose();
                     }
                 });
}

void SteamSessionMonitor::beginClose() {
    FERROWICK_MAIN_THREAD();
    apply(closeRequested(fields_));
}

void SteamSessionMonitor::startSteam() {
    FERROWICK_MAIN_THREAD();
    Logger::shared().info(kLaunchingLog);
    const bool launched = launcher_.launchSteam(Constants::prefixPath());
    apply(launchAttempted(fields_, launched, options_.now()));
}

void SteamSessionMonitor::autoRestartSteam() {
    FERROWICK_MAIN_THREAD();
    apply(restartBegins(fields_));
}

void SteamSessionMonitor::onSteamClosed() {
    FERROWICK_MAIN_THREAD();
    apply(steamExited(fields_, options_.steamInstalled()));
}

void SteamSessionMonitor::setupFinished(bool wineRunning, std::optional<bool> steamReady) {
    FERROWICK_MAIN_THREAD();
    apply(SteamSessionRules::setupFinished(fields_, wineRunning, steamReady, options_.now()));
}

void SteamSessionMonitor::applicationWillTerminate() {
    FERROWICK_MAIN_THREAD();
    launcher_.killAll();
}

void SteamSessionMonitor::apply(Step step) {
    FERROWICK_MAIN_THREAD();
    ++epoch_;
    fields_ = step.fields;
    for (const auto& action : step.actions) {
        if (stepAside() && isScreen(action.effect)) {
            // The screen stays the activity's, but the failure is still logged.
            if (action.effect == Effect::showError) Logger::shared().error(action.text);
            continue;
        }
        perform(action);
    }
}

// The second half of an automatic restart, once its kill and pause are over.
void SteamSessionMonitor::relaunchAfterKill() {
    restartInFlight_ = false;
    // A close in the meantime called the restart off, and so does an activity
    // that now owns the prefix.
    if (!relaunchDue(fields_) || stepAside()) {
        apply(restartCalledOff(fields_));
        return;
    }
    const bool launched = launcher_.launchSteam(Constants::prefixPath());
    apply(restartRelaunched(fields_, launched, options_.now()));
}

void SteamSessionMonitor::perform(const Action& action) {
    FERROWICK_MAIN_THREAD();
    switch (action.effect) {
    case Effect::logInfo:
        Logger::shared().info(action.text);
        break;
    case Effect::showSteamReady:
        frontEnd_.showSteamReady();
        break;
    case Effect::showSteamLaunching:
        frontEnd_.showSteamLaunching();
        break;
    case Effect::showSteamRunning:
        frontEnd_.showSteamRunning();
        break;
    case Effect::showSteamLaunchFailed:
        frontEnd_.showSteamLaunchFailed();
        break;
    case Effect::showStep1:
        frontEnd_.showStep1();
        break;
    case Effect::showLoading:
        frontEnd_.showLoading(action.text);
        break;
    case Effect::showError:
        frontEnd_.showError(action.text);
        break;
    case Effect::autoRestartSteam:
        autoRestartSteam();
        break;
    case Effect::steamClosed:
        onSteamClosed();
        break;
    case Effect::killForRestart:
        restartInFlight_ = true;
        killThenPause(options_.restartPause, [this] { relaunchAfterKill(); });
        break;
    case Effect::killForClose:
        // The close keeps the button busy, and with it the poll, until the
        // ready screen is up, as a blocking close would.
        killThenPause(options_.closePause, [this] {
            buttonInFlight_ = false;
            apply(closeFinished(fields_));
        });
        break;
    }
}
