#include "app/AppSetupServices.h"

#include "app/AppDelegate.h"
#include "runtime/RuntimeValidator.h"
#include "wine/WineDownloader.h"

SetupPipeline::Check AppSetupServices::checkMacOSVersion() {
    const auto check = RuntimeValidator::checkMacOSVersion();
    return {check.valid, check.version};
}

SetupPipeline::Check AppSetupServices::checkSupportedCPU() {
    const auto check = RuntimeValidator::checkSupportedCPU();
    return {check.valid, check.arch};
}

std::optional<std::string> AppSetupServices::validateBundledDLLs() {
    return RuntimeValidator::validateBundledDLLs();
}

bool AppSetupServices::wineInstalled() {
    return app_.wineDownloader->isInstalled();
}

SetupPipeline::Check AppSetupServices::checkWineVersion() {
    const auto check = app_.prefixManager.checkWineVersion();
    return {check.valid, check.version};
}

bool AppSetupServices::prefixExists() {
    return app_.prefixManager.prefixExists();
}

bool AppSetupServices::enoughDiskSpace() {
    return app_.checkDiskSpace(Constants::supportDir(), kMinimumFreeGB);
}

bool AppSetupServices::createPrefix(const SetupPipeline::StatusCallback& status) {
    return app_.prefixManager.createPrefix(status);
}

bool AppSetupServices::mesaDLLsDeployed() {
    return app_.prefixManager.mesaDLLsDeployed();
}

bool AppSetupServices::deployMesaDLLs(const SetupPipeline::StatusCallback& status) {
    return app_.prefixManager.deployMesaDLLs(status);
}

bool AppSetupServices::steamInstalled() {
    return app_.prefixManager.steamInstalled();
}

bool AppSetupServices::isWineRunning() {
    return SteamSessionMonitor::isWineRunning();
}

bool AppSetupServices::isSteamReady() {
    return ProcessLauncher::isSteamReady();
}

void AppSetupServices::installWine(std::function<void(double)> progress,
                                   std::function<void(const DownloadResult&)> completion) {
    app_.wineDownloader->install(std::move(progress), std::move(completion));
}

void AppSetupServices::killAll() {
    app_.processLauncher.killAll();
}

std::optional<std::string> AppSetupServices::backupPrefix() {
    return app_.prefixManager.backupPrefix();
}

bool AppSetupServices::restoreBackup(const std::string& backupPath) {
    return app_.prefixManager.restoreBackup(backupPath);
}

void AppSetupServices::deleteBackup(const std::string& backupPath) {
    app_.prefixManager.deleteBackup(backupPath);
}

std::vector<std::string> AppSetupServices::backups() {
    return app_.prefixManager.backups();
}
