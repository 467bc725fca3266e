#include "app/AppDelegate.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "app/AppServices.h"
#include "app/LauncherWindow.h"
#include "common/Constants.h"
#include "controller/PrefixRepair.h"
#include "controller/SetupPipeline.h"
#include "platform/MainQueue.h"

// Start-up and quit: the controller's construction, the agreement gate, the
// setup pipeline it leads to, and the clean-up on the way out.

// Taking the shared logger first is what empties and opens the launcher log.
AppDelegate::AppDelegate()
    : log(Logger::shared()),
      services_(std::make_unique<AppServices>(*this)),
      steamSession_(std::make_unique<SteamSessionMonitor>(processLauncher, *this, [this] {
          SteamSessionMonitor::Options options;
          options.activity = &activity_;
          return options;
      }())) {
    SetupPipeline::Handoffs handoffs;
    handoffs.setupFinished = [this](bool wineRunning, std::optional<bool> steamReady) {
        steamSession_->setupFinished(wineRunning, steamReady);
    };
    handoffs.recoverInterruptedRepair = [services = services_.get()] { PrefixRepair::recoverInterrupted(*services); };
    pipeline_ = std::make_unique<SetupPipeline>(*services_, *this, activity_, std::move(handoffs));
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::installAsApplicationDelegate() {
    QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
}

void AppDelegate::applicationDidFinishLaunching() {
    log.info("=== Ferrowick starting ===");
    log.logSystemInfo();
    setupMenuBar();
    setupWindow();
    installSteamExitNotice();
    if (eulaAccepted()) {
        validateAndPrepare();
    } else {
        showEula();
    }
    // Runs until the process ends; the connection dies with the controller.
    statusTimer = std::make_unique<QTimer>();
    statusTimer->setInterval(statusIntervalMs);
    connect(statusTimer.get(), &QTimer::timeout, this, &AppDelegate::updateSteamStatus);
    statusTimer->start();
}

// Waits for the clean-up, so that no Wine server of the prefix and no web
// helper outlives the launcher.
void AppDelegate::applicationWillTerminate() {
    steamSession_->applicationWillTerminate();
}

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
        setStatusText("Please check the box to continue.");
        return;
    }
    markEulaAccepted();
    validateAndPrepare();
}

void AppDelegate::onEulaLink() {
    openURL(Constants::eulaURL());
}

void AppDelegate::onPrivacyLink() {
    openURL(Constants::privacyURL());
}

void AppDelegate::openURL(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void AppDelegate::validateAndPrepare() {
    pipeline_->validateAndPrepare();
}

void AppDelegate::startWineDownload() {
    pipeline_->startWineDownload();
}

void AppDelegate::ui(std::function<void()> block) {
    platform::MainQueue::post(std::move(block));
}
