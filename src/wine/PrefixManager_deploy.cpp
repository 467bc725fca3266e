// PrefixManager: deployment of the bundled graphics DLLs and their registry
// settings. Runs on the setup or repair work's background thread.
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Bundle.h"
#include "runtime/RuntimeValidator.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;

namespace {

namespace text {
constexpr char installing[] = "Installing components...";
constexpr char sourceMissing[] = "A required component is missing.\nPlease reinstall Ferrowick.";
constexpr char copyFailed[] = "Failed to install a required component.";
constexpr char configuring[] = "Configuring environment...";
}  // namespace text

struct DLLFolder {
    const char* resourceFolder;
    const char* prefixDirectory;
};
constexpr std::array<DLLFolder, 2> kFolders = {{
    {"mesa-x86_64", Constants::system32},
    {"mesa-i686", Constants::syswow64},
}};

// Wine's DLL overrides for the copied DLLs, no crash dialog or first-chance
// breaks from the debugger, and Windows XP behaviour for the game alone.
// "/f" overwrites, so repeating a deployment changes nothing.
const std::vector<std::vector<std::string>>& registrySettings() {
    static const std::vector<std::vector<std::string>> commands = {
        {"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides", "/v", "opengl32", "/d", "native", "/f"},
        {"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides", "/v", "libgallium_wgl", "/d", "native", "/f"},
        {"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD", "/d",
         "0", "/f"},
        {"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\WineDbg", "/v", "BreakOnFirstChance", "/t", "REG_DWORD",
         "/d", "0", "/f"},
        {"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\Quillmoor.exe", "/v", "Version", "/d", "winxp",
         "/f"},
    };
    return commands;
}

}  // namespace

bool PrefixManager::deployMesaDLLs(const StatusCallback& status) {
    auto report = [&](const char* line) {
        if (status) status(line);
    };
    report(text::installing);
    const std::string resources = platform::Bundle::resourcePath();
    // Matching DLLs alone do not make a deployment: its registry writes must
    // also have run to their end, which the marker's removal records.
    const std::string marker = prefixPath() + kDeployingMarker;
    (void)writeMarker(marker, "");
    for (const DLLFolder& folder : kFolders) {
        const std::string targetDir = prefixPath() + folder.prefixDirectory;
        for (const char* name : Constants::mesaDLLs) {
            const std::string source = resources + "/" + folder.resourceFolder + "/" + name;
            const std::string target = targetDir + "/" + name;
            std::error_code ec;
            if (!fs::exists(source, ec)) {
                report(text::sourceMissing);
                return false;
            }
            fs::remove(target, ec);  // best effort; the copy below reports what matters
            if (!fs::copy_file(source, target, ec) || ec) {
                report(text::copyFailed);
                return false;
            }
        }
    }
    report(text::configuring);
    // The outcome of each registry write is deliberately not examined: the
    // result rests on the DLL comparison and on the writes having all run.
    for (const auto& command : registrySettings()) (void)runWine(command);
    std::error_code ec;
    fs::remove(marker, ec);
    return mesaDLLsDeployed();
}

bool PrefixManager::mesaDLLsDeployed() {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(prefixPath() + kDeployingMarker, ec))) return false;
    const auto stale = RuntimeValidator::staleDeployedDLLs(prefixPath());
    return stale && stale->empty();
}
