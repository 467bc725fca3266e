#include "controller/PrefixRepair.h"

#include <thread>

#include "platform/Background.h"
#include "platform/ThreadContract.h"

namespace PrefixRepair {

Result run(Services& services, const Hooks& hooks, std::chrono::milliseconds settle) {
    // Steam and the Wine server must be gone before their prefix is moved.
    services.killAll();
    std::this_thread::sleep_for(settle);
    hooks.showLoading(kRepairing);

    const std::optional<std::string> backup = services.backupPrefix();
    const bool rebuilt = services.createPrefix(hooks.showLoading) && services.deployMesaDLLs(hooks.showLoading);
    if (rebuilt) {
        if (backup) services.deleteBackup(*backup);
        hooks.showStep1();
        return Result::rebuilt;
    }
    if (!backup) {
        hooks.showError(kNoBackup);
        return Result::noBackup;
    }
    if (services.restoreBackup(*backup)) {
        hooks.showError(kRestored);
        return Result::restored;
    }
    // The backup is the user's only copy now: say where it is and leave it alone.
    hooks.log("ERROR", kBackupKeptAt + *backup);
    hooks.showError(kNotRestored);
    return Result::restoreFailed;
}

bool start(Services& services, const Hooks& hooks, LauncherActivity& activity,
           const std::function<void(std::function<void()>)>& background) {
    FERROWICK_MAIN_THREAD();
    if (!activity.tryEnter(LauncherActivity::Kind::repairing)) {
        hooks.log("INFO", LauncherActivity::ignoredLine(activity.current()));
        return false;
    }
    auto work = [&services, hooks, leave = activity.deferredLeave(LauncherActivity::Kind::repairing)] {
        (void)run(services, hooks);
        leave();
    };
    background ? background(work) : platform::runInBackground(work);
    return true;
}

void recoverInterrupted(Services& services, const Hooks& hooks) {
    std::vector<std::string> backups = services.backups();
    if (backups.empty()) return;
    // No system.reg: the rebuild never finished, or a restore was cut short.
    if (!services.prefixExists()) {
        const std::string newest = backups.back();
        backups.pop_back();
        hooks.log("INFO", kRestoringInterrupted + newest);
        if (!services.restoreBackup(newest)) hooks.log("ERROR", kBackupKeptAt + newest);
    }
    // A working prefix beside a backup: which one the user wants is theirs to say.
    for (const auto& backup : backups) hooks.log("WARN", kLeftoverBackup + backup);
}

}  // namespace PrefixRepair
