#include "controller/SetupPipeline.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "logging/Logger.h"
#include "platform/ThreadContract.h"

namespace {

namespace text {
constexpr char checkingSystem[] = "Checking system...";
constexpr char validationStarted[] = "--- Validation started ---";
constexpr char macOS[] = "macOS: ";
constexpr char cpu[] = "CPU: ";
constexpr char bundle[] = "Bundle: ";
constexpr char wine[] = "Wine: ";
constexpr char mesa[] = "Mesa DLLs: ";
constexpr char wineMissing[] = "Wine runtime not found, downloading...";
constexpr char versionMismatch[] = "Wine version mismatch (";
constexpr char reDownloading[] = "), re-downloading...";
constexpr char unusableAfterDownload[] = "Wine runtime still unusable after download, found version: ";
constexpr char stepOne[] = "\u2192 Step 1: Install Steam";
constexpr char downloadComplete[] = "Wine download complete, continuing setup";
constexpr char preparing[] = "Preparing environment...";
constexpr char installingComponents[] = "Installing components...";

constexpr char macOSRequired[] = "macOS 14.0 or later is required.\nYour version: ";
constexpr char unsupportedMac[] = "This Mac is not supported.\nApple Silicon (M1/M2/M3/M4) required.";
constexpr char incomplete[] = "Installation incomplete.\nPlease reinstall Ferrowick.";
constexpr char noDiskSpace[] = "Not enough disk space.";
constexpr char setupFailed[] = "Setup failed.\nPlease try again.";
constexpr char deployFailed[] = "Setup failed.\nPlease try again or use Repair.";
constexpr char noConnection[] = "Setup failed.\nPlease check your internet connection.";
constexpr char verificationFailed[] = "Setup verification failed.\nPlease try again.";
constexpr char downloadNoSpace[] = "Not enough disk space.\nAt least 2 GB free space required.";
}  // namespace text

const char* flag(bool value) {
    return value ? "true" : "false";
}

std::string withFlag(const char* label, const std::string& detail, bool valid) {
    return std::string(label) + detail + " (" + flag(valid) + ")";
}

}  // namespace

SetupPipeline::SetupPipeline(Services& services, FrontEnd& frontEnd, LauncherActivity& activity, Handoffs handoffs,
                             platform::Executor background)
    : services_(services),
      frontEnd_(frontEnd),
      handoffs_(std::move(handoffs)),
      background_(platform::orBackground(std::move(background))),
      activity_(activity),
      self_(this) {}

SetupPipeline::~SetupPipeline() = default;

std::string SetupPipeline::progressText(double fraction) {
    // A NaN or out-of-range fraction must not reach the integer conversion.
    double percent = std::isnan(fraction) ? 0.0 : std::trunc(fraction * 100.0);
    percent = std::fmin(std::fmax(percent, 0.0), 100.0);
    return "Setting up... " + std::to_string(static_cast<int>(percent)) + "%";
}

std::string SetupPipeline::downloadErrorText(const DownloadError& error) {
    // The texts some cases carry are for the log, not for the user.
    switch (error.kind) {
    case DownloadError::Kind::networkError:
        return text::noConnection;
    case DownloadError::Kind::extractionFailed:
    case DownloadError::Kind::versionMismatch:
        return text::setupFailed;
    case DownloadError::Kind::checksumMismatch:
        return text::verificationFailed;
    case DownloadError::Kind::diskSpaceLow:
        return text::downloadNoSpace;
    }
    return text::setupFailed;
}

std::string SetupPipeline::validationPerfText(double seconds) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.1f", seconds);
    return std::string("Validation: ") + buffer + "s";
}

void SetupPipeline::info(const std::string& message) const {
    Logger::shared().info(message);
}

bool SetupPipeline::enter() {
    FERROWICK_MAIN_THREAD();
    if (activity_.tryEnter(LauncherActivity::Kind::settingUp)) return true;
    info(LauncherActivity::ignoredLine(activity_.current()));
    return false;
}

void SetupPipeline::leave() {
    FERROWICK_MAIN_THREAD();
    activity_.leave(LauncherActivity::Kind::settingUp);
}

void SetupPipeline::validateAndPrepare() {
    FERROWICK_MAIN_THREAD();
    if (enter()) startBody();
}

void SetupPipeline::startBody() {
    frontEnd_.showLoading(text::checkingSystem);
    // Read on the main thread, where the field lives; the body gets a copy.
    const bool downloadedBefore = downloaded_, firstRun = !started_;
    started_ = true;
    background_([this, self = self_.handle(), downloadedBefore, firstRun] {
        const Outcome outcome = runBody(downloadedBefore, firstRun);
        self.post([outcome](SetupPipeline& pipeline) { pipeline.finish(outcome); });
    });
}

SetupPipeline::Outcome SetupPipeline::ending(End end) {
    Outcome outcome;
    outcome.end = end;
    return outcome;
}

SetupPipeline::Outcome SetupPipeline::fail(const std::string& message) {
    frontEnd_.showError(message);
    return {};
}

SetupPipeline::Outcome SetupPipeline::runtimeStillUnusable(const std::string& versionFound) {
    Logger::shared().error(text::unusableAfterDownload + versionFound);
    return fail(text::setupFailed);
}

SetupPipeline::Outcome SetupPipeline::runBody(bool downloadedBefore, bool firstRun) {
    if (firstRun && handoffs_.recoverInterruptedRepair) handoffs_.recoverInterruptedRepair();
    const auto start = std::chrono::steady_clock::now();
    info(text::validationStarted);

    const Check os = services_.checkMacOSVersion();
    info(withFlag(text::macOS, os.detail, os.valid));
    if (!os.valid) return fail(text::macOSRequired + os.detail);

    const Check cpu = services_.checkSupportedCPU();
    info(withFlag(text::cpu, cpu.detail, cpu.valid));
    if (!cpu.valid) return fail(text::unsupportedMac);

    if (const auto fault = services_.validateBundledDLLs()) {
        Logger::shared().error(text::bundle + *fault);
        return fail(text::incomplete);
    }

    if (!services_.wineInstalled()) {
        if (downloadedBefore) return runtimeStillUnusable(services_.checkWineVersion().detail);
        info(text::wineMissing);
        return ending(End::download);
    }

    const Check wine = services_.checkWineVersion();
    info(withFlag(text::wine, wine.detail, wine.valid));
    if (!wine.valid) {
        if (downloadedBefore) return runtimeStillUnusable(wine.detail);
        info(text::versionMismatch + wine.detail + text::reDownloading);
        return ending(End::download);
    }

    const StatusCallback status = [this](const std::string& line) { frontEnd_.showLoading(line); };
    // Free space is only checked when something is about to be written into the prefix.
    if (!services_.prefixExists()) {
        if (!services_.enoughDiskSpace()) return fail(text::noDiskSpace);
        frontEnd_.showLoading(text::preparing);
        if (!services_.createPrefix(status)) return fail(text::setupFailed);
    }

    const bool deployed = services_.mesaDLLsDeployed();
    info(std::string(text::mesa) + flag(deployed));
    if (!deployed) {
        if (!services_.enoughDiskSpace()) return fail(text::noDiskSpace);
        frontEnd_.showLoading(text::installingComponents);
        if (!services_.deployMesaDLLs(status)) return fail(text::deployFailed);
    }

    Logger::shared().perf(
        validationPerfText(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()));

    if (!services_.steamInstalled()) {
        info(text::stepOne);
        frontEnd_.showStep1();
        return ending(End::step1);
    }

    Outcome outcome = ending(End::steamInstalled);
    outcome.wineRunning = services_.isWineRunning();
    if (outcome.wineRunning) outcome.steamReady = services_.isSteamReady();
    return outcome;
}

void SetupPipeline::finish(const Outcome& outcome) {
    FERROWICK_MAIN_THREAD();
    switch (outcome.end) {
    case End::download:
        // The run goes on through the download; it stays marked as running.
        startWineDownload();
        return;
    case End::steamInstalled:
        // The session takes over from here with the pipeline's own probe.
        leave();
        handoffs_.setupFinished(outcome.wineRunning, outcome.steamReady);
        return;
    case End::failed:
    case End::step1:
        leave();
        return;
    }
}

void SetupPipeline::startWineDownload() {
    FERROWICK_MAIN_THREAD();
    // Called on its own, the download is a run of its own.
    if (!isRunning() && !enter()) return;
    frontEnd_.showDownload();
    // Both handlers may come on the downloader's thread: they only hop to the main queue.
    services_.installWine(
        [self = self_.handle()](double fraction) {
            self.post([fraction](SetupPipeline& pipeline) {
                pipeline.frontEnd_.showDownloadProgress(fraction, progressText(fraction));
            });
        },
        [self = self_.handle()](const DownloadResult& result) {
            self.post([result](SetupPipeline& pipeline) { pipeline.downloadFinished(result); });
        });
}

void SetupPipeline::downloadFinished(const DownloadResult& result) {
    FERROWICK_MAIN_THREAD();
    leave();
    if (result) {
        frontEnd_.showError(downloadErrorText(*result));
        return;
    }
    downloaded_ = true;
    info(text::downloadComplete);
    validateAndPrepare();
}
