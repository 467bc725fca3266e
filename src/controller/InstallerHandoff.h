#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "controller/FrontEnd.h"
#include "controller/LauncherActivity.h"
#include "platform/Background.h"

// Runs the Steam installer the user dropped onto the window inside the
// prefix, and watches the prefix until Steam turns up in it. The installer
// itself is never waited for once Steam is there: the user may still be
// clicking through its last pages.
namespace InstallerHandoff {

struct Settings {
    std::string supportDir;  // the installer copy goes here as "SteamSetup.exe"
    std::string wineBin;
    std::string prefixPath;
    std::chrono::milliseconds pollInterval{3000};
    // Whether steam.exe is in the prefix; called on the watch's thread.
    std::function<bool()> steamInstalled;
};

// How the watch ended.
enum class Result { steamDetected, notDetected, couldNotStart };

// Logs the drop and, unless another activity runs (then it logs why the drop
// is refused and returns false), enters installingSteam, shows the loading
// screen and hands the run and watch to a background work item (`background`,
// empty: platform::runInBackground), which leaves the activity after its last
// screen. Main thread.
bool handleDroppedInstaller(const std::string& path, const Settings& settings, FrontEnd& frontEnd,
                            LauncherActivity& activity, const platform::Executor& background = {});

// Copies the installer to supportDir + "/SteamSetup.exe", replacing an earlier
// copy, and returns the path to run: the copy, or the dropped file when the
// copy could not be made.
std::string prepareInstaller(const std::string& dropped, const std::string& supportDir);

// Starts the installer under Wine and watches for Steam; blocks until Steam
// is detected or the installer has ended. Background threads only.
Result runAndWatch(const std::string& dropped, const Settings& settings, FrontEnd& frontEnd);

inline constexpr char kInstalling[] = "Installing Steam...\nComplete the setup in the Steam window.";
inline constexpr char kCouldNotRun[] = "Could not run the installer.\nPlease try again.";
inline constexpr char kNotDetected[] = "Steam was not detected after installation.\nPlease try again.";
inline constexpr char kCopyName[] = "/SteamSetup.exe";

}  // namespace InstallerHandoff
