#pragma once

#include <optional>
#include <string>

#include "controller/ControllerServices.h"

class AppDelegate;

// The controller's services, over AppDelegate's: the prefix manager, the
// runtime downloader, the validator's checks and the process probes. The blocking calls run on the calling work
// item's thread, except installWine, which the pipeline calls on the main
// thread. The controller owns
// this object and outlives its work items.
class AppServices : public ControllerServices {
public:
    explicit AppServices(AppDelegate& app) : app_(app) {}

    SetupPipeline::Check checkMacOSVersion() override;
    SetupPipeline::Check checkSupportedCPU() override;
    std::optional<std::string> validateBundledDLLs() override;
    bool wineInstalled() override;
    SetupPipeline::Check checkWineVersion() override;
    bool prefixExists() override;
    bool enoughDiskSpace() override;
    // Shared by the pipeline and the repair.
    bool createPrefix(const StatusCallback& status) override;
    bool mesaDLLsDeployed() override;
    bool deployMesaDLLs(const StatusCallback& status) override;
    bool steamInstalled() override;
    bool isWineRunning() override;
    bool isSteamReady() override;
    void installWine(std::function<void(double)> progress,
                     std::function<void(const DownloadResult&)> completion) override;

    void killAll() override;
    std::optional<std::string> backupPrefix() override;
    bool restoreBackup(const std::string& backupPath) override;
    void deleteBackup(const std::string& backupPath) override;
    std::vector<std::string> backups() override;

    // Free space the pipeline asks for before it writes into the prefix.
    static constexpr int64_t kMinimumFreeGB = 2;

private:
    AppDelegate& app_;
};
