#include "controller/PrefixRepair.h"

#include <thread>

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

}  // namespace PrefixRepair
