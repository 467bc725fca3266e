#include "app/AppServices.h"

#include "app/AppDelegate.h"
#include "runtime/RuntimeValidator.h"
#include "wine/WineDownloader.h"

SetupPipeline::Check AppServices::checkMacOSVersion() {
    const auto check = RuntimeValidator::checkMacOSVersion();
    return {check.valid, check.version};
}

SetupPipeline::Check AppServices::checkSupportedCPU() {
    const auto check = RuntimeValidator::checkSupportedCPU();
    return {check.valid, check.arch};
}

std::optional<std::string> AppServices::validateBundledDLLs() {
    return RuntimeValidator::validateBundledDLLs();
}

bool AppServices::wineInstalled() {
    return app_.wineDownloader->isInstalled();
}

SetupPipeline::Check AppServices::checkWineVersion() {
    const auto check = app_.prefixManager.checkWineVersion();
    return {check.valid, check.version};
}

bool AppServices::prefixExists() {
    return app_.prefixManager.prefixExists();
}

bool AppServices::enoughDiskSpace() {
    return app_.checkDiskSpace(Constants::supportDir(), kMinimumFreeGB);
}

bool AppServices::createPrefix(const StatusCallback& status) {
    return app_.prefixManager.createPrefix(status);
}

bool AppServices::mesaDLLsDeployed() {
    return app_.prefixManager.mesaDLLsDeployed();
}

bool AppServices::deployMesaDLLs(const StatusCallback& status) {
    return app_.prefixManager.deployMesaDLLs(status);
}

bool AppServices::steamInstalled() {
    return app_.prefixManager.steamInstalled();
}

bool AppServices::isWineRunning() {
    return SteamSessionMonitor::isWineRunning();
}

bool AppServices::isSteamReady() {
    return ProcessLauncher::isSteamReady();
}

void AppServices::installWine(std::function<void(double)> progress,
                              std::function<void(const DownloadResult&)> completion) {
    app_.wineDownloader->install(std::move(progress), std::move(completion));
}

void AppServices::killAll() {
    app_.processLauncher.killAll();
}

std::optional<std::string> AppServices::backupPrefix() {
    return app_.prefixManager.backupPrefix();
}

bool AppServices::restoreBackup(const std::string& backupPath) {
    return app_.prefixManager.restoreBackup(backupPath);
}

void AppServices::deleteBackup(const std::string& backupPath) {
    app_.prefixManager.deleteBackup(backupPath);
}

std::vector<std::string> AppServices::backups() {
    return app_.prefixManager.backups();
}
