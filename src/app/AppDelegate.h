#pragma once

#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/LauncherWindow.h"
#include "common/Constants.h"
#include "controller/FrontEnd.h"
#include "controller/LauncherActivity.h"
#include "controller/SteamSessionMonitor.h"
#include "logging/Logger.h"
#include "process/ProcessLauncher.h"
#include "runtime/RuntimeValidator.h"
#include "wine/PrefixManager.h"
#include "wine/WineDownloader.h"

class QCheckBox;
class QLabel;

class QProgressBar;
class QPushButton;
class QWidget;
class AppServices;
class SetupPipeline;
class DropView;
class Spinner;

// The application controller: owns the window, the services and all of the
// launcher's state, and is the controller's front end. Created once by main();
// every field is read and written on the main thread. The screen operations
// may be called from any thread: they only post their work to the main queue
// through ui().
//
// Its operations live by concern: start-up, the agreement and quit in
// AppDelegate.cpp; the window in AppDelegate_window.cpp and its screens in
// AppDelegate_screens.cpp; the Steam session in AppDelegate_steam.cpp; the
// installer step and repair in AppDelegate_installer.cpp; the menu bar in
// AppDelegate_menu.cpp.
class AppDelegate : public QObject, public FrontEnd {
    Q_OBJECT

public:
    AppDelegate();
    ~AppDelegate() override;

    // Controls, set once by setupWindow() and never replaced. The window owns
    // every control; the controller owns the window.
    std::unique_ptr<LauncherWindow> window;
    QLabel* statusLabel = nullptr;
    Spinner* spinner = nullptr;
    QProgressBar* progressBar = nullptr;  // 0..1000 stands for 0..1
    QPushButton* mainButton = nullptr;
    QPushButton* downloadButton = nullptr;
    DropView* dropZone = nullptr;
    QPushButton* repairButton = nullptr;
    QCheckBox* eulaCheck1 = nullptr;
    QPushButton* eulaAcceptButton = nullptr;
    QPushButton* eulaLinkButton = nullptr;

    PrefixManager prefixManager{Constants::prefixPath(), Constants::wineBin()};
    ProcessLauncher processLauncher;
    // Replaceable before the first setup run (tests point it at their own server).
    std::unique_ptr<WineDownloader> wineDownloader = std::make_unique<WineDownloader>();
    // The free-space check made before anything is written into the prefix;
    // tests replace it rather than fill a disk. Called on the setup's thread.
    std::function<bool(const std::string& path, int64_t minimumGB)> checkDiskSpace = RuntimeValidator::checkDiskSpace;
    Logger& log;
    std::unique_ptr<QTimer> statusTimer;

    // Makes this the running application's delegate: closing the last window
    // quits, and quitting runs applicationWillTerminate().
    void installAsApplicationDelegate();

    // The start-up sequence; main() calls it once the event loop is about to run.
    void applicationDidFinishLaunching();
    // One tick of the Steam session monitor (status timer, every 5 s).
    void updateSteamStatus();
    void setupMenuBar();
    static bool applicationShouldTerminateAfterLastWindowClosed() { return true; }
    // Runs on the way out (QCoreApplication::aboutToQuit).
    void applicationWillTerminate();
    void setupWindow();

    // The screens (FrontEnd gives each one's thread).
    void showEula();
    void showLoading(const std::string& message) override;
    void showStep1() override;
    void showSteamReady() override;
    void showSteamLaunching() override;
    void showSteamRunning() override;
    void showSteamLaunchFailed() override;
    void showError(const std::string& message) override;
    void setStatusText(const std::string& text) override;
    void showDownload() override;
    void showDownloadProgress(double fraction, const std::string& status) override;

    // The setup pipeline; returns at once. At most one run is under way.
    void validateAndPrepare();
    // Shows the download screen and installs the Wine runtime, then runs the
    // pipeline again.
    void startWineDownload();

    [[nodiscard]] bool eulaAccepted() const override;
    void markEulaAccepted();
    void onEulaAccept();
    void onEulaLink();
    void onPrivacyLink();

    // The Steam session (see SteamSessionMonitor, which holds its fields and
    // decides; these only pass its events on).
    void onMainButton();
    void onSteamClosed();
    // The session's fields; the setup pipeline hands its Steam probe to it
    // through setupFinished().
    [[nodiscard]] SteamSessionMonitor& steamSession() { return *steamSession_; }
    [[nodiscard]] const LauncherActivity& activity() const { return activity_; }
    // Starts the session afresh with other options (tests run its clock faster);
    // it keeps reporting to the controller's activity.
    void replaceSteamSession(SteamSessionMonitor::Options options);
    void onDownloadSteam();
    void handleDroppedInstaller(const std::string& path);
    void onRepair();

    // Posts `block` to the main queue; never runs it inline.
    static void ui(std::function<void()> block);

    // The Privacy Policy link is found again through this object name.
    static constexpr const char* privacyLinkName = "privacyLink";
    static constexpr int statusIntervalMs = 5000;

    // The menu bar, built by setupMenuBar(); the controller only keeps it so
    // that the window can carry its shortcuts where the bar is not native.
    [[nodiscard]] QMenuBar* menuBar() const { return menuBar_.get(); }

private:
    void hideAllControls();
    [[nodiscard]] QWidget* privacyLink() const;
    void openURL(const std::string& url);

    // The exit of the launcher's own Steam calls onSteamClosed() on the main queue.
    void installSteamExitNotice();

    // What the launcher is doing now; every sequencer consults it. Declared
    // before them so that it outlives them.
    LauncherActivity activity_;
    // The controller's view of this object's services and screens, shared by
    // every sequencer. Background items of the pipeline, the installer watch
    // and the repair use it, so the controller must outlive them (main() keeps
    // it for the whole run).
    std::unique_ptr<AppServices> services_;

    std::unique_ptr<SteamSessionMonitor> steamSession_;
    std::unique_ptr<QMenuBar> menuBar_;
    std::unique_ptr<SetupPipeline> pipeline_;
};
