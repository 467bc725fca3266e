#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/Constants.h"
#include "common/StatusCallback.h"

class Logger;

// The launcher's service for everything that happens inside the Wine prefix:
// running Wine commands, inspecting, creating, backing up and restoring the
// prefix, and running an installer in it. It keeps no state beyond its three
// fields; every operation works on the disk at call time.
//
// Threading: the operations that run Wine block for as long as Wine runs (an
// installer runs until the user closes it) and must only be called from
// background threads. The existence tests are cheap and fine anywhere.
class PrefixManager {
public:
    // Output (stdout and stderr merged, in write order; empty when it is not
    // UTF-8) and exit status, or the launch failure message and -1.
    struct WineResult {
        std::string output;
        int32_t status = 0;
    };

    struct VersionCheck {
        bool valid = false;
        std::string version;
    };

    explicit PrefixManager(std::string prefixPath = Constants::prefixPath(),
                           std::string wineBin = Constants::wineBin());
    virtual ~PrefixManager() = default;
    PrefixManager(const PrefixManager&) = delete;
    PrefixManager& operator=(const PrefixManager&) = delete;

    const std::string& prefixPath() const { return prefixPath_; }
    const std::string& wineBin() const { return wineBin_; }

    // supportDir + "/setup-output.log", computed once.
    static const std::string& setupLogPath();

    [[nodiscard]] virtual bool wineExists() const;
    [[nodiscard]] virtual VersionCheck checkWineVersion();
    // A system.reg, and no creation left unfinished.
    [[nodiscard]] virtual bool prefixExists() const;
    [[nodiscard]] virtual bool steamInstalled() const;
    [[nodiscard]] virtual bool gameInstalled() const;
    // Moves the prefix aside to prefixPath + ".backup." + seconds since 1970;
    // the backup's path, or nothing when there was no prefix or the move failed.
    [[nodiscard]] virtual std::optional<std::string> backupPrefix();
    // Replaces the prefix with the backup; true when the backup is in place.
    [[nodiscard]] virtual bool restoreBackup(const std::string& backupPath);
    // Removes a backup made by backupPrefix(); anything else is left alone.
    virtual void deleteBackup(const std::string& backupPath);
    // Every backup beside the prefix (backupPrefix()'s names), oldest first.
    [[nodiscard]] std::vector<std::string> backups() const;
    // Bytes of every entry below the prefix; links are counted, not followed.
    [[nodiscard]] virtual int64_t prefixSizeBytes() const;
    [[nodiscard]] virtual bool createPrefix(const StatusCallback& status);
    // Runs a Windows installer and waits for it; true when Steam is installed after.
    [[nodiscard]] virtual bool runInstaller(const std::string& path, const StatusCallback& status);
    // Copies the bundle's graphics DLLs into system32 and syswow64 and writes
    // the DLL overrides, debugger and Windows-version settings into the
    // registry. True when every copy matches runtime.lock afterwards.
    [[nodiscard]] virtual bool deployMesaDLLs(const StatusCallback& status);
    // True only when runtime.lock could be read, no deployed copy is missing
    // or different, and no deployment was left unfinished (its registry
    // writes cut short). Runs one shasum per DLL.
    [[nodiscard]] virtual bool mesaDLLsDeployed();
    // Runs wineBin with `arguments` against the prefix, waits without a time
    // limit, and appends the command's section to the setup log.
    [[nodiscard]] virtual WineResult runWine(const std::vector<std::string>& arguments);

private:
    [[nodiscard]] std::optional<uint64_t> backupSeconds(const std::string& path) const;
    void beginCreation();
    [[nodiscard]] bool serverCommand(const char* option, double seconds);
    // Creates or replaces a marker file in the prefix with `text`, on disk
    // before it returns; false when it could not be written.
    static bool writeMarker(const std::string& path, const std::string& text);

    // Present while a creation or a deployment is under way, and left behind
    // when it did not finish.
    static constexpr char kCreatingMarker[] = "/.ferrowick-creating";
    static constexpr char kDeployingMarker[] = "/.ferrowick-deploying";

    std::string prefixPath_;
    std::string wineBin_;
    Logger& log_;
};
