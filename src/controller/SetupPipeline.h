#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/StatusCallback.h"
#include "controller/FrontEnd.h"
#include "controller/LauncherActivity.h"
#include "platform/Background.h"
#include "platform/WeakSelf.h"
#include "wine/DownloadError.h"

// The setup pipeline: checks the machine and the application's own files,
// makes sure the private Wine runtime is installed (handing over to its
// download when it is not), creates the prefix, deploys the graphics
// components, and ends on one of the controller's screens.
//
// Threading: validateAndPrepare, startWineDownload and the hand-offs run on
// the main thread, where the pipeline's own fields live. The body runs as one
// background work item; it reaches the window only through the front end's
// screens (which post to the main queue themselves) and hands its outcome
// back through platform::MainQueue. The pipeline must outlive every body it
// starts. It logs to the launcher log.
//
// A run is the launcher's settingUp activity: it lasts from
// validateAndPrepare to its final screen, a runtime download and the body that
// follows it included, so a double click can never put two wineboot runs into
// one prefix nor restart a download, and no repair or installer runs beside it. A runtime is downloaded at most once
// per process: when it is still unusable after a successful download, setup fails instead of downloading again.
class SetupPipeline {
public:
    struct Check {
        bool valid = false;
        std::string detail;  // the version or architecture found
    };

    // The blocking checks and steps, called on the body's thread, except
    // installWine, which is called on the main thread and may call its
    // handlers on any thread (the two early failures before it returns).
    class Services {
    public:
        virtual ~Services() = default;
        virtual Check checkMacOSVersion() = 0;
        virtual Check checkSupportedCPU() = 0;
        // The first fault of the application's graphics DLLs, if any.
        virtual std::optional<std::string> validateBundledDLLs() = 0;
        virtual bool wineInstalled() = 0;
        virtual Check checkWineVersion() = 0;
        virtual bool prefixExists() = 0;
        // At least 2 GB free on the volume of the support directory.
        virtual bool enoughDiskSpace() = 0;
        virtual bool createPrefix(const StatusCallback& status) = 0;
        virtual bool mesaDLLsDeployed() = 0;
        virtual bool deployMesaDLLs(const StatusCallback& status) = 0;
        virtual bool steamInstalled() = 0;
        virtual bool isWineRunning() = 0;
        virtual bool isSteamReady() = 0;
        virtual void installWine(std::function<void(double fraction)> progress,
                                 std::function<void(const DownloadResult&)> completion) = 0;
    };

    // Where setup hands over to the rest of the controller.
    struct Handoffs {
        // Main thread: Steam is installed; the probes were taken on the
        // body's thread (readiness only when Wine was running).
        std::function<void(bool wineRunning, std::optional<bool> steamReady)> setupFinished;
        // Optional; the first body's thread, before its checks: puts back what
        // a repair cut short left aside, so setup never builds over it.
        std::function<void()> recoverInterruptedRepair;
    };

    SetupPipeline(Services& services, FrontEnd& frontEnd, LauncherActivity& activity, Handoffs handoffs,
                  platform::Executor background = {});
    ~SetupPipeline();
    SetupPipeline(const SetupPipeline&) = delete;
    SetupPipeline& operator=(const SetupPipeline&) = delete;

    // Starts a run and returns at once; ignored, with an INFO line, while
    // this or another activity is under way.
    void validateAndPrepare();
    // Switches to the download screen and starts the runtime installation.
    void startWineDownload();

    [[nodiscard]] bool isRunning() const { return activity_.current() == LauncherActivity::Kind::settingUp; }
    [[nodiscard]] bool hasDownloaded() const { return downloaded_; }

    // "Setting up... N%", N the fraction times 100 truncated toward zero.
    [[nodiscard]] static std::string progressText(double fraction);
    // What the user is told when the runtime installation failed.
    [[nodiscard]] static std::string downloadErrorText(const DownloadError& error);
    // The body's duration as logged: "Validation: 3.2s".
    [[nodiscard]] static std::string validationPerfText(double seconds);

private:
    enum class End { failed, download, step1, steamInstalled };
    struct Outcome {
        End end = End::failed;
        bool wineRunning = false;
        std::optional<bool> steamReady;
    };

    static Outcome ending(End end);
    void startBody();
    Outcome runBody(bool downloadedBefore, bool firstRun);
    Outcome fail(const std::string& text);
    Outcome runtimeStillUnusable(const std::string& versionFound);
    void finish(const Outcome& outcome);
    void downloadFinished(const DownloadResult& result);
    void info(const std::string& message) const;
    [[nodiscard]] bool enter();
    void leave();

    Services& services_;
    FrontEnd& frontEnd_;
    Handoffs handoffs_;
    platform::Executor background_;
    LauncherActivity& activity_;
    bool downloaded_ = false;
    bool started_ = false;  // a body has run in this process
    // Posted tasks hold this weakly, so none runs after the pipeline is gone.
    platform::WeakSelf<SetupPipeline> self_;
};
