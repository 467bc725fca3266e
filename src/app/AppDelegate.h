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
#include "logging/Logger.h"
#include "wine/Constants.h"
#include "wine/PrefixManager.h"

class QCheckBox;
class QLabel;

class QProgressBar;
class QPushButton;
class QWidget;
class DropView;

class Spinner;

// The application controller: owns the window, the services and all of the
// launcher's state. Created once by main(); every field is read and written
// on the main thread. The screen operations may be called from any thread:
// they only post their work to the main queue through ui().
class AppDelegate : public QObject {
    Q_OBJECT

public:
    enum class SteamPhase { ready, launching, running, launchFailed };

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
    // Wired when the services land:
    //   ProcessLauncher processLauncher;
    //   WineDownloader wineDownloader;
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

    void showEula();
    void showLoading(const std::string& message);
    void showStep1();
    void showSteamReady();
    void showSteamLaunching();
    void showSteamRunning();
    void showSteamLaunchFailed();
    // Logs `message` at ERROR on the calling thread, then posts the screen.
    void showError(const std::string& message);

    // The setup pipeline; returns at once.
    void validateAndPrepare();

    [[nodiscard]] bool eulaAccepted() const;
    void markEulaAccepted();
    void onEulaAccept();
    void onEulaLink();
    void onPrivacyLink();

    void onMainButton();
    void onSteamClosed();
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

    SteamPhase steamPhase = SteamPhase::ready;
    std::optional<std::chrono::system_clock::time_point> steamLaunchStartedAt;
    int64_t steamReadyStableCount = 0;
    int64_t steamAutoRestartAttempts = 0;
    bool isAutoRestarting = false;

    std::unique_ptr<QMenuBar> menuBar_;
};
