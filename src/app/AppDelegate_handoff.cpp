#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "app/AppDelegate.h"
#include "app/AppServices.h"
#include "controller/InstallerHandoff.h"
#include "controller/PrefixRepair.h"

// The Steam installer hand-off and the repair. Both run as background work
// items that reach the window only through the screen operations.

namespace {
constexpr char kRepairTitle[] = "Repair Installation?";
constexpr char kRepairWarning[] = "This will reset everything. You'll need to reinstall Steam and log in again.";
constexpr char kRepairButton[] = "Repair";
constexpr char kCancelButton[] = "Cancel";
}  // namespace

void AppDelegate::handleDroppedInstaller(const std::string& path) {
    InstallerHandoff::Settings settings;
    settings.supportDir = Constants::supportDir();
    settings.wineBin = prefixManager.wineBin();
    settings.prefixPath = prefixManager.prefixPath();

    InstallerHandoff::Hooks hooks;
    wireCommonHooks(hooks);
    hooks.showSteamReady = [this] { showSteamReady(); };
    hooks.setStatusText = [self = QPointer<AppDelegate>(this)](const std::string& text) {
        ui([self, text] {
            if (self) self->statusLabel->setText(QString::fromStdString(text));
        });
    };
    hooks.steamInstalled = [this] { return prefixManager.steamInstalled(); };
    (void)InstallerHandoff::handleDroppedInstaller(path, settings, hooks, activity_);
}

void AppDelegate::onRepair() {
    PrefixRepair::Hooks hooks;
    wireCommonHooks(hooks);
    // No question whose answer would be ignored: the screen may still show the
    // button while setup, the hand-off or an earlier repair runs.
    if (activity_.busy()) {
        hooks.log("INFO", LauncherActivity::ignoredLine(activity_.current()));
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
    (void)PrefixRepair::start(*services_, hooks, activity_);
}
