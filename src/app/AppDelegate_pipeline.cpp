#include <QLabel>
#include <QProgressBar>
#include <cmath>

#include "app/AppDelegate.h"
#include "app/AppServices.h"
#include "controller/PrefixRepair.h"
#include "controller/SetupPipeline.h"

// The setup pipeline: SetupPipeline sequences the checks and steps over the
// controller's services; the controller supplies the screens and hands the
// pipeline's final Steam probe to the session monitor.

namespace {
constexpr char kDownloadStatus[] = "First-time setup in progress.\nThis may take a few minutes.";
}  // namespace

void AppDelegate::createSetupPipeline() {
    SetupPipeline::Hooks hooks;
    wireCommonHooks(hooks);
    hooks.showDownload = [this] { showDownload(); };
    hooks.showDownloadProgress = [this](double fraction, const std::string& status) {
        showDownloadProgress(fraction, status);
    };
    hooks.setupFinished = [this](bool wineRunning, std::optional<bool> steamReady) {
        steamSession_->setupFinished(wineRunning, steamReady);
    };
    PrefixRepair::Hooks repairHooks;
    wireCommonHooks(repairHooks);
    hooks.recoverInterruptedRepair = [services = services_.get(), repairHooks] {
        PrefixRepair::recoverInterrupted(*services, repairHooks);
    };
    pipeline_ = std::make_unique<SetupPipeline>(*services_, activity_, std::move(hooks));
}

void AppDelegate::validateAndPrepare() {
    pipeline_->validateAndPrepare();
}

void AppDelegate::startWineDownload() {
    pipeline_->startWineDownload();
}

// Both run on the main thread, in the order the pipeline asks for them.
void AppDelegate::showDownload() {
    hideAllControls();
    statusLabel->setText(kDownloadStatus);
    progressBar->show();
    progressBar->setValue(0);
}

void AppDelegate::showDownloadProgress(double fraction, const std::string& status) {
    const double clamped = std::isnan(fraction) ? 0.0 : std::fmin(std::fmax(fraction, 0.0), 1.0);
    progressBar->setValue(static_cast<int>(std::lround(clamped * progressBar->maximum())));
    statusLabel->setText(QString::fromStdString(status));
}
