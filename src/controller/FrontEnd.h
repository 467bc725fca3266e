#pragma once

#include <string>

// The one way from the controller to the window: its screens, its status text
// and the agreement state. AppDelegate implements it; tests record it.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // Screens. Any thread: each posts its arrangement to the main thread.
    virtual void showLoading(const std::string& status) = 0;
    virtual void showStep1() = 0;
    virtual void showSteamReady() = 0;
    virtual void showSteamLaunching() = 0;
    virtual void showSteamRunning() = 0;
    virtual void showSteamLaunchFailed() = 0;
    // Any thread: logs `message` at ERROR on the calling thread, then posts the screen.
    virtual void showError(const std::string& message) = 0;
    // Any thread: posts a new status text, leaving the controls as they are.
    virtual void setStatusText(const std::string& text) = 0;
    // Main thread only: the runtime download's arrangement, with the bar at 0.
    virtual void showDownload() = 0;
    // Main thread only: one progress report, the bar's fraction and the status text.
    virtual void showDownloadProgress(double fraction, const std::string& status) = 0;
    // Main thread only: whether the user has accepted the agreement.
    [[nodiscard]] virtual bool eulaAccepted() const = 0;
};
