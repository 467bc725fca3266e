#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/StatusCallback.h"
#include "controller/FrontEnd.h"
#include "controller/LauncherActivity.h"
#include "platform/Background.h"

// Rebuilds a broken prefix: ends everything Wine runs in it, moves it aside,
// creates and equips a fresh one, and then either drops the old one or puts
// it back. The old prefix is deleted only once the new one is complete, and
// never when it could not be put back.
namespace PrefixRepair {

// The blocking steps, all called on the repair's own thread.
class Services {
public:
    virtual ~Services() = default;
    virtual void killAll() = 0;
    // The backup's path, or nothing when there was no prefix or it could not be moved.
    virtual std::optional<std::string> backupPrefix() = 0;
    virtual bool createPrefix(const StatusCallback& status) = 0;
    virtual bool deployMesaDLLs(const StatusCallback& status) = 0;
    virtual bool restoreBackup(const std::string& backupPath) = 0;
    virtual void deleteBackup(const std::string& backupPath) = 0;
    // For the recovery at start: a prefix with its system.reg, and the backups beside it, oldest first.
    virtual bool prefixExists() = 0;
    virtual std::vector<std::string> backups() = 0;
};

// How the repair ended.
enum class Result { rebuilt, restored, restoreFailed, noBackup };

// Runs the whole repair and blocks until it ends; call it on a background
// work item. `settle` is the pause between the kill and the move aside.
Result run(Services& services, FrontEnd& frontEnd, std::chrono::milliseconds settle = std::chrono::seconds(2));

// Main thread: enters the repairing activity and hands run() to a background
// work item (`background`, empty: platform::runInBackground), which leaves the
// activity after the repair's last screen. While another activity runs, logs
// why the request is ignored and returns false. `services` and `frontEnd`
// must outlive the work item.
bool start(Services& services, FrontEnd& frontEnd, LauncherActivity& activity,
           const platform::Executor& background = {});

// At start, before setup: a repair cut short (the launcher killed or quit
// between the move aside and the end) leaves its backup beside the prefix.
// Without a working prefix the newest backup is put back; any other backup is
// left alone and named in a WARN line. Blocks on file moves; background only.
void recoverInterrupted(Services& services);

inline constexpr char kRepairing[] = "Repairing installation...";
inline constexpr char kRestored[] = "Repair was not successful.\nYour previous installation has been restored.";
inline constexpr char kNotRestored[] = "Repair was not successful.\nYour previous installation could not be restored.";
inline constexpr char kNoBackup[] = "Repair was not successful.\nPlease reinstall Ferrowick.";
inline constexpr char kBackupKeptAt[] = "Could not restore the previous installation; it is kept at ";
inline constexpr char kRestoringInterrupted[] = "Restoring the installation an interrupted repair moved aside: ";
inline constexpr char kLeftoverBackup[] = "An earlier installation is kept beside the prefix: ";

}  // namespace PrefixRepair
