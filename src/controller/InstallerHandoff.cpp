#include "controller/InstallerHandoff.h"

#include <filesystem>

#include "common/Constants.h"
#include "logging/Logger.h"
#include "platform/Subprocess.h"
#include "platform/ThreadContract.h"

namespace fs = std::filesystem;

namespace InstallerHandoff {

namespace {
constexpr char droppedPrefix[] = "User dropped installer: ";
constexpr char steamDetected[] = "Steam detected";
}  // namespace

bool handleDroppedInstaller(const std::string& path, const Settings& settings, FrontEnd& frontEnd,
                            LauncherActivity& activity, const platform::Executor& background) {
    FERROWICK_MAIN_THREAD();
    Logger::shared().info(droppedPrefix + path);
    // An installer run beside setup or repair would write into a prefix that
    // is being built or moved.
    if (!activity.tryEnter(LauncherActivity::Kind::installingSteam)) {
        Logger::shared().info(LauncherActivity::ignoredLine(activity.current()));
        return false;
    }
    frontEnd.showLoading(kInstalling);
    platform::orBackground(background)(
        [path, settings, &frontEnd, leave = activity.deferredLeave(LauncherActivity::Kind::installingSteam)] {
            runAndWatch(path, settings, frontEnd);
            leave();
        });
    return true;
}

std::string prepareInstaller(const std::string& dropped, const std::string& supportDir) {
    const std::string copy = supportDir + kCopyName;
    std::error_code ec;
    // Dropping the launcher's own copy must not delete the very file to be run.
    if (fs::equivalent(dropped, copy, ec)) return copy;
    // Both steps are best effort: without a copy the dropped file is run where it lies.
    fs::remove(copy, ec);
    fs::create_directories(supportDir, ec);
    fs::copy_file(dropped, copy, ec);
    return fs::is_regular_file(copy, ec) ? copy : dropped;
}

Result runAndWatch(const std::string& dropped, const Settings& settings, FrontEnd& frontEnd) {
    platform::SubprocessSpec child;
    child.executable = settings.wineBin;
    child.arguments = {prepareInstaller(dropped, settings.supportDir)};
    child.environment = Constants::buildSafeEnvironment(settings.prefixPath);
    child.output = platform::OutputMode::Inherit;
    auto started = platform::Subprocess::start(child);
    if (!started.process) {
        frontEnd.showError(kCouldNotRun);
        return Result::couldNotStart;
    }

    const double pause = std::chrono::duration<double>(settings.pollInterval).count();
    while (started.process->isRunning()) {
        if (settings.steamInstalled()) {
            // The installer is left running; nobody watches it any more.
            Logger::shared().info(steamDetected);
            frontEnd.showSteamReady();
            return Result::steamDetected;
        }
        // Returns early when the installer ends, so its end is noticed at once.
        (void)started.process->waitFor(pause);
    }

    if (settings.steamInstalled()) {
        frontEnd.showSteamReady();
        return Result::steamDetected;
    }
    frontEnd.showStep1();
    frontEnd.setStatusText(kNotDetected);
    return Result::notDetected;
}

}  // namespace InstallerHandoff
