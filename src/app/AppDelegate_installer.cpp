#include <QMessageBox>
#include <QPushButton>

#include "app/AppDelegate.h"
#include "app/AppServices.h"
#include "controller/InstallerHandoff.h"
#include "controller/PrefixRepair.h"

// The Steam installer step (Download Steam and the dropped installer) and
// repair. Both run as background work items that reach the window only
// through the front end's screens.

namespace {
constexpr char kRepairTitle[] = "Repair Installation?";
constexpr char kRepairWarning[] = "This will reset everything. You'll need to reinstall Steam and log in again.";
constexpr char kRepairButton[] = "Repair";
constexpr char kCancelButton[] = "Cancel";
}  // namespace

void AppDelegate::onDownloadSteam() {
    log.info("User clicked Download Steam");
    openURL(Constants::steamDownloadURL());
}

void AppDelegate::handleDroppedInstaller(const std::string& path) {
    InstallerHandoff::Settings settings;
    settings.supportDir = Constants::supportDir();
    settings.wineBin = prefixManager.wineBin();
    settings.prefixPath = prefixManager.prefixPath();
    settings.steamInstalled = [this] { return prefixManager.steamInstalled(); };
    (void)InstallerHandoff::handleDroppedInstaller(path, settings, *this, activity_);
}

void AppDelegate::onRepair() {
    // No question whose answer would be ignored: the screen may still show the
    // button while setup, the hand-off or an earlier repair runs.
    if (activity_.busy()) {
        log.info(LauncherActivity::ignoredLine(activity_.current()));
        return;
    }
    QMessageBox alert(QMessageBox::Warning, QString(), kRepairTitle, QMessageBox::NoButton, window.get());
    alert.setInformativeText(kRepairWarning);
    QPushButton* repair = alert.addButton(kRepairButton, QMessageBox::AcceptRole);
    alert.addButton(kCancelButton, QMessageBox::RejectRole);
    alert.setDefaultButton(repair);
    alert.exec();
    if (alert.clickedButton() != repair) return;
    // Checked again: the alert's event loop may have let something begin.
    (void)PrefixRepair::start(*services_, *this, activity_);
}
