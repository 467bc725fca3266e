#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "app/AppDelegate.h"
#include "app/AppSetupServices.h"
#include "platform/Background.h"
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
    InstallerHandoff::handleDroppedInstaller(path, settings, hooks);
}

void AppDelegate::onRepair() {
    QMessageBox alert(QMessageBox::Warning, QString(), kRepairTitle, QMessageBox::NoButton, window.get());
    alert.setInformativeText(kRepairWarning);
    QPushButton* repair = alert.addButton(kRepairButton, QMessageBox::AcceptRole);
    alert.addButton(kCancelButton, QMessageBox::RejectRole);
    alert.setDefaultButton(repair);
    alert.exec();
    if (alert.clickedButton() != repair) return;

    PrefixRepair::Hooks hooks;
    wireCommonHooks(hooks);
    platform::runInBackground([services = setupServices_.get(), hooks] { (void)PrefixRepair::run(*services, hooks); });
}
