#include "controller/PrefixRepair.h"

#include <thread>

#include "logging/Logger.h"
#include "platform/ThreadContract.h"

namespace PrefixRepair {

Result run(Services& services, FrontEnd& frontEnd, std::chrono::milliseconds settle) {
    // Steam and the Wine server must be gone before their prefix is moved.
    services.killAll();
    std::this_thread::sleep_for(settle);
    frontEnd.showLoading(kRepairing);

    const std::optional<std::string> backup = services.backupPrefix();
    const StatusCallback status = [&frontEnd](const std::string& line) { frontEnd.showLoading(line); };
    const bool rebuilt = services.createPrefix(status) && services.deployMesaDLLs(status);
    if (rebuilt) {
        if (backup) services.deleteBackup(*backup);
        frontEnd.showStep1();
        return Result::rebuilt;
    }
    if (!backup) {
        frontEnd.showError(kNoBackup);
        return Result::noBackup;
    }
    if (services.restoreBackup(*backup)) {
        frontEnd.showError(kRestored);
        return Result::restored;
    }
    // The backup is the user's only copy now: say where it is and leave it alone.
    Logger::shared().error(kBackupKeptAt + *backup);
    frontEnd.showError(kNotRestored);
    return Result::restoreFailed;
}

bool start(Services& services, FrontEnd& frontEnd, LauncherActivity& activity, const platform::Executor& background) {
    FERROWICK_MAIN_THREAD();
    if (!activity.tryEnter(LauncherActivity::Kind::repairing)) {
        Logger::shared().info(LauncherActivity::ignoredLine(activity.current()));
        return false;
    }
    platform::orBackground(background)(
        [&services, &frontEnd, leave = activity.deferredLeave(LauncherActivity::Kind::repairing)] {
            (void)run(services, frontEnd);
            leave();
        });
    return true;
}

void recoverInterrupted(Services& services) {
    Logger& log = Logger::shared();
    std::vector<std::string> backups = services.backups();
    if (backups.empty()) return;
    // No system.reg: the rebuild never finished, or a restore was cut short.
    if (!services.prefixExists()) {
        const std::string newest = backups.back();
        backups.pop_back();
        log.info(kRestoringInterrupted + newest);
        if (!services.restoreBackup(newest)) log.error(kBackupKeptAt + newest);
    }
    // A working prefix beside a backup: which one the user wants is theirs to say.
    for (const auto& backup : backups) log.warn(kLeftoverBackup + backup);
}

}  // namespace PrefixRepair
