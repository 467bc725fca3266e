#pragma once

#include <optional>
#include <string>

#include "controller/ControllerServices.h"

class AppDelegate;

// The controller's services, over AppDelegate's: the prefix manager, the
// runtime downloader, the validator's checks, the process probes, the
// agreement state and the screens. The blocking calls run on the calling work
// item's thread, except installWine, which the pipeline calls on the main
// thread; the session's calls come on the main thread. The controller owns
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
    bool createPrefix(const SetupPipeline::StatusCallback& status) override;
    bool mesaDLLsDeployed() override;
    bool deployMesaDLLs(const SetupPipeline::StatusCallback& status) override;
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

    bool eulaAccepted() override;
    void showSteamReady() override;
    void showSteamLaunching() override;
    void showSteamRunning() override;
    void showSteamLaunchFailed() override;
    void showStep1() override;
    void showLoading(const std::string& status) override;
    void showError(const std::string& message) override;

    // Free space the pipeline asks for before it writes into the prefix.
    static constexpr int64_t kMinimumFreeGB = 2;

private:
    AppDelegate& app_;
};
