#pragma once

#include <array>
#include <map>
#include <string>

// The launcher's file-system layout, endpoints, runtime identity, Steam
// tunables and the Wine child environment. Everything is fixed when the
// launcher is built; the support-directory paths are anchored in the home
// directory on first use and never change afterwards. Safe from any thread.
namespace Constants {

// Absolute paths, computed once per process on first use. The first use of
// any of them moves a legacy support directory to its current name.
const std::string& supportDir();
const std::string& wineDir();
const std::string& wineBin();
const std::string& wineserver();
const std::string& prefixPath();
const std::string& eulaAcceptedFile();
const std::string& stateFile();

// Suffixes appended to a prefix path.
inline constexpr char steamExeUnix[] = "/drive_c/Program Files (x86)/Steam/steam.exe";
inline constexpr char gameExePath[] = "/drive_c/Program Files (x86)/Steam/steamapps/common/Quillmoor/Quillmoor.exe";
inline constexpr char system32[] = "/drive_c/windows/system32";
inline constexpr char syswow64[] = "/drive_c/windows/syswow64";

// Literals.
inline constexpr char steamExePath[] = "C:\\Program Files (x86)\\Steam\\steam.exe";
inline constexpr char wineVersionRequired[] = "wine-11.4";
inline constexpr char wineArchiveName[] = "wine-staging-11.4-osx64.tar.xz";
const std::string& wineDownloadURL();
const std::string& wineDownloadSHA256();
const std::string& steamDownloadURL();
const std::string& eulaURL();
const std::string& privacyURL();

// Steam session tunables.
inline constexpr double steamLaunchTimeoutSeconds = 105.0;
inline constexpr int steamReadyStablePolls = 2;
inline constexpr int steamAutoRestartLimit = 1;

inline constexpr std::array<const char*, 3> mesaDLLs = {"opengl32.dll", "libgallium_wgl.dll", "libz-1.dll"};
inline constexpr std::array<const char*, 5> envAllowlist = {"HOME", "USER", "PATH", "TMPDIR", "LANG"};
const std::map<std::string, std::string>& wineEnvVars();

// The complete environment of a Wine child working on `wineprefix`: the
// allowlisted variables the launcher has, WINEPREFIX, and wineEnvVars.
std::map<std::string, std::string> buildSafeEnvironment(const std::string& wineprefix);

// The support directory for a given home, after moving a legacy directory
// into place when only the legacy one exists. Creates nothing else.
std::string resolveSupportDir(const std::string& home);

}  // namespace Constants
