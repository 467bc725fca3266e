#include "controller/SteamSessionRules.h"

#include "common/Constants.h"

namespace SteamSessionRules {

namespace {

class StepBuilder {
public:
    explicit StepBuilder(const Fields& fields) : step_{fields, {}} {}
    Fields& fields() { return step_.fields; }
    void add(Effect effect, std::string text = {}) { step_.actions.push_back({effect, std::move(text)}); }
    Step take() { return std::move(step_); }

private:
    Step step_;
};

void enterLaunching(StepBuilder& b, Clock::time_point now) {
    Fields& f = b.fields();
    f.steamPhase = SteamPhase::launching;
    f.steamLaunchStartedAt = now;
    f.steamAutoRestartAttempts = 0;
    // A ready poll counted before Steam went away must not shorten the new
    // launch's wait for two consecutive ready polls.
    f.steamReadyStableCount = 0;
    b.add(Effect::showSteamLaunching);
}

// Wine has gone while launching: back to ready, unless a restart is between
// its kill and its relaunch.
void wineGone(StepBuilder& b) {
    if (b.fields().isAutoRestarting) return;
    b.fields().steamPhase = SteamPhase::ready;
    b.add(Effect::showSteamReady);
}

void launchingTick(StepBuilder& b, bool wineRunning, bool steamReady, Clock::time_point now) {
    Fields& f = b.fields();
    if (steamReady) {
        if (++f.steamReadyStableCount >= Constants::steamReadyStablePolls) {
            f.steamPhase = SteamPhase::running;
            f.steamReadyStableCount = 0;
            b.add(Effect::showSteamRunning);
        }
        if (!wineRunning) wineGone(b);
        return;
    }
    f.steamReadyStableCount = 0;
    if (!wineRunning) {
        wineGone(b);
        return;
    }
    if (!f.steamLaunchStartedAt) return;
    const double elapsed = std::chrono::duration<double>(now - *f.steamLaunchStartedAt).count();
    if (elapsed <= Constants::steamLaunchTimeoutSeconds) return;
    if (f.steamAutoRestartAttempts < Constants::steamAutoRestartLimit) {
        b.add(Effect::logInfo, stuckLogLine(f.steamAutoRestartAttempts + 1));
        ++f.steamAutoRestartAttempts;
        b.add(Effect::autoRestartSteam);
    } else {
        f.steamPhase = SteamPhase::launchFailed;
        b.add(Effect::showSteamLaunchFailed);
    }
}

}  // namespace

std::string stuckLogLine(int64_t attempt) {
    return "Steam stuck on launch, auto-restarting (attempt " + std::to_string(attempt) + ")";
}

bool isScreen(Effect effect) {
    switch (effect) {
    case Effect::logInfo:
    case Effect::autoRestartSteam:
    case Effect::steamClosed:
    case Effect::killForRestart:
    case Effect::killForClose:
        return false;
    default:
        return true;
    }
}

bool tickAllowed(const Fields& fields, bool eulaAccepted, bool steamInstalled) {
    return eulaAccepted && steamInstalled && !fields.isAutoRestarting;
}

bool needsReadinessProbe(SteamPhase phase, bool wineRunning) {
    return phase == SteamPhase::launching || (phase == SteamPhase::ready && wineRunning);
}

Step tick(const Fields& fields, bool wineRunning, std::optional<bool> steamReady, Clock::time_point now) {
    StepBuilder b(fields);
    const bool ready = steamReady.value_or(false);
    switch (fields.steamPhase) {
    case SteamPhase::ready:
        if (!wineRunning) break;
        if (ready) {
            b.fields().steamPhase = SteamPhase::running;
            b.add(Effect::showSteamRunning);
        } else {
            enterLaunching(b, now);  // started outside the main button, or alive from before
        }
        break;
    case SteamPhase::launching:
        launchingTick(b, wineRunning, ready, now);
        break;
    case SteamPhase::running:
        if (!wineRunning) {
            b.fields().steamPhase = SteamPhase::ready;
            b.add(Effect::steamClosed);
        }
        break;
    case SteamPhase::launchFailed:
        if (!wineRunning) {
            b.fields().steamPhase = SteamPhase::ready;
            b.add(Effect::showSteamReady);
        }
        break;
    }
    return b.take();
}

bool mainButtonStarts(bool launcherProcessRunning, bool wineRunning) {
    return !launcherProcessRunning && !wineRunning;
}

Step launchAttempted(const Fields& fields, bool launched, Clock::time_point now) {
    StepBuilder b(fields);
    if (!launched) {
        b.add(Effect::showError, kLaunchFailedError);
        return b.take();
    }
    Fields& f = b.fields();
    f.steamPhase = SteamPhase::launching;
    f.steamLaunchStartedAt = now;
    f.steamReadyStableCount = 0;
    f.steamAutoRestartAttempts = 0;
    f.isAutoRestarting = false;
    b.add(Effect::showSteamLaunching);
    return b.take();
}

Step closeRequested(const Fields& fields) {
    StepBuilder b(fields);
    b.add(Effect::logInfo, kUserCloseLog);
    Fields& f = b.fields();
    f.steamPhase = SteamPhase::ready;
    f.steamLaunchStartedAt.reset();
    f.steamAutoRestartAttempts = 0;
    f.isAutoRestarting = false;
    f.isClosing = true;
    b.add(Effect::killForClose);
    return b.take();
}

Step closeFinished(const Fields& fields) {
    StepBuilder b(fields);
    b.fields().isClosing = false;
    b.add(Effect::showSteamReady);
    return b.take();
}

Step restartBegins(const Fields& fields) {
    StepBuilder b(fields);
    b.fields().isAutoRestarting = true;
    b.add(Effect::showLoading, kRestartingStatus);
    b.add(Effect::killForRestart);
    return b.take();
}

bool relaunchDue(const Fields& fields) {
    return fields.isAutoRestarting;
}

Step restartCalledOff(const Fields& fields) {
    StepBuilder b(fields);
    // A close has already put the phase to ready and shows its own screen.
    if (!fields.isAutoRestarting) return b.take();
    b.fields().isAutoRestarting = false;
    b.fields().steamPhase = SteamPhase::ready;
    return b.take();
}

Step restartRelaunched(const Fields& fields, bool launched, Clock::time_point now) {
    StepBuilder b(fields);
    Fields& f = b.fields();
    f.isAutoRestarting = false;
    if (launched) {
        f.steamPhase = SteamPhase::launching;
        f.steamLaunchStartedAt = now;
        f.steamReadyStableCount = 0;
        b.add(Effect::showSteamLaunching);
    } else {
        f.steamPhase = SteamPhase::launchFailed;
        b.add(Effect::showSteamLaunchFailed);
    }
    return b.take();
}

Step steamExited(const Fields& fields, bool steamInstalled) {
    StepBuilder b(fields);
    b.add(Effect::logInfo, kClosedLog);
    // The restart's or the close's own kill: the screen follows when it is over.
    if (fields.isAutoRestarting || fields.isClosing) return b.take();
    b.fields().steamPhase = SteamPhase::ready;
    b.add(steamInstalled ? Effect::showSteamReady : Effect::showStep1);
    return b.take();
}

Step setupFinished(const Fields& fields, bool wineRunning, std::optional<bool> steamReady, Clock::time_point now) {
    StepBuilder b(fields);
    Fields& f = b.fields();
    if (!wineRunning) {
        f.steamPhase = SteamPhase::ready;
        b.add(Effect::showSteamReady);
    } else if (steamReady.value_or(false)) {
        f.steamPhase = SteamPhase::running;
        b.add(Effect::showSteamRunning);
    } else {
        enterLaunching(b, now);  // the timer watches the launch found under way
    }
    return b.take();
}

}  // namespace SteamSessionRules
