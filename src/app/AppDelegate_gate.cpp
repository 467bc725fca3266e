#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "app/AppDelegate.h"
#include "app/LauncherWindow.h"
#include "common/Constants.h"

bool AppDelegate::eulaAccepted() const {
    std::error_code ec;
    return std::filesystem::exists(Constants::eulaAcceptedFile(), ec);
}

void AppDelegate::markEulaAccepted() {
    std::error_code ec;
    std::filesystem::create_directories(Constants::supportDir(), ec);
    // Best effort: a failed write only means the agreement is asked for again.
    std::ofstream marker(Constants::eulaAcceptedFile(), std::ios::binary | std::ios::trunc);
    log.info("EULA accepted");
}

void AppDelegate::onEulaAccept() {
    if (!eulaCheck1->isChecked()) {
        QPointer<AppDelegate> self(this);
        ui([self] {
            if (self) self->statusLabel->setText("Please check the box to continue.");
        });
        return;
    }
    markEulaAccepted();
    validateAndPrepare();
}

void AppDelegate::openURL(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void AppDelegate::onEulaLink() {
    openURL(Constants::eulaURL());
}

void AppDelegate::onPrivacyLink() {
    openURL(Constants::privacyURL());
}

void AppDelegate::onDownloadSteam() {
    log.info("User clicked Download Steam");
    openURL(Constants::steamDownloadURL());
}
