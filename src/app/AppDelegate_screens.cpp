#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <cmath>

#include "app/AppDelegate.h"
#include "app/DropView.h"
#include "app/LauncherWindow.h"
#include "app/Spinner.h"

// The screens: each is one arrangement of the window's fixed controls.

namespace {

constexpr char kDownloadStatus[] = "First-time setup in progress.\nThis may take a few minutes.";

// Each screen is one arrangement of the fixed controls. The scheduled block
// holds the controller weakly: a screen requested after it is gone is dropped.
void schedule(AppDelegate* delegate, std::function<void(AppDelegate&)> apply) {
    QPointer<AppDelegate> self(delegate);
    AppDelegate::ui([self, apply = std::move(apply)] {
        if (self) apply(*self);
    });
}

}  // namespace

QWidget* AppDelegate::privacyLink() const {
    return window ? window->findChild<QWidget*>(privacyLinkName, Qt::FindDirectChildrenOnly) : nullptr;
}

void AppDelegate::hideAllControls() {
    for (QWidget* control :
         std::initializer_list<QWidget*>{mainButton, downloadButton, dropZone, repairButton, progressBar, eulaCheck1,
                                         eulaAcceptButton, eulaLinkButton}) {
        control->hide();
    }
    if (QWidget* link = privacyLink()) link->hide();
    spinner->hide();
    spinner->stopAnimation();
}

void AppDelegate::showEula() {
    schedule(this, [](AppDelegate& d) {
        d.hideAllControls();
        d.statusLabel->setText("Please review and accept\nthe terms to continue.");
        d.eulaCheck1->show();
        d.eulaAcceptButton->show();
        d.eulaLinkButton->show();
        if (QWidget* link = d.privacyLink()) link->show();
        d.eulaCheck1->setChecked(false);
    });
}

void AppDelegate::showLoading(const std::string& message) {
    schedule(this, [message](AppDelegate& d) {
        d.hideAllControls();
        d.statusLabel->setText(QString::fromStdString(message));
        d.spinner->show();
        d.spinner->startAnimation();
    });
}

void AppDelegate::showStep1() {
    schedule(this, [](AppDelegate& d) {
        d.hideAllControls();
        d.statusLabel->setText(
            "Step 1: Install Steam\nDownload Steam for Windows (.exe),\nthen drag the installer below.");
        d.downloadButton->show();
        d.dropZone->show();
        d.repairButton->show();
    });
}

namespace {
void applySteamScreen(AppDelegate& d, const char* status, const char* buttonTitle, bool withRepair) {
    d.statusLabel->setText(status);
    d.mainButton->setText(buttonTitle);
    d.mainButton->show();
    if (withRepair) d.repairButton->show();
}
}  // namespace

void AppDelegate::showSteamReady() {
    schedule(this, [](AppDelegate& d) {
        d.hideAllControls();
        applySteamScreen(d, "Launch Quillmoor from\nyour Steam Library.", "Open Steam", true);
    });
}

void AppDelegate::showSteamLaunching() {
    schedule(this, [](AppDelegate& d) {
        d.hideAllControls();
        applySteamScreen(d, "Steam launching...", "Close Steam", false);
    });
}

void AppDelegate::showSteamRunning() {
    schedule(this, [](AppDelegate& d) {
        d.hideAllControls();
        applySteamScreen(d, "Steam is running.\nPlay Quillmoor from your Library.", "Close Steam", false);
    });
}

void AppDelegate::showSteamLaunchFailed() {
    schedule(this, [](AppDelegate& d) {
        d.hideAllControls();
        applySteamScreen(d, "Steam failed to start.\nTry closing and reopening.", "Close Steam", false);
    });
}

void AppDelegate::showError(const std::string& message) {
    log.error(message);
    schedule(this, [message](AppDelegate& d) {
        d.hideAllControls();
        d.statusLabel->setText(QString::fromStdString(message));
        d.repairButton->show();
    });
}

void AppDelegate::setStatusText(const std::string& text) {
    schedule(this, [text](AppDelegate& d) { d.statusLabel->setText(QString::fromStdString(text)); });
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
