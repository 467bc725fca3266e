#include "common/Constants.h"

#include <cstdlib>
#include <filesystem>

#include "BuildConfig.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace Constants {

std::string resolveSupportDir(const std::string& home) {
    const std::string current = home + "/Library/Application Support/Ferrowick";
    const std::string legacy = home + "/Library/Application Support/QuillmoorLauncher";
    std::error_code ec;
    // A link counts only when its target exists: moving a dangling legacy link
    // to the new name would leave a support directory nothing can be created in.
    const bool legacyExists = fs::exists(legacy, ec);
    const bool currentExists = fs::exists(current, ec);
    if (legacyExists && !currentExists) {
        fs::rename(legacy, current, ec);  // a failed move is dropped; we start fresh
    }
    return current;
}

// Function-local statics give the thread-safe one-time initialisation.
const std::string& supportDir() {
    static const std::string value = resolveSupportDir(platform::Paths::homeDirectory());
    return value;
}
const std::string& wineDir() {
    static const std::string value = supportDir() + "/wine";
    return value;
}
const std::string& wineBin() {
    static const std::string value = wineDir() + "/bin/wine";
    return value;
}
const std::string& wineserver() {
    static const std::string value = wineDir() + "/bin/wineserver";
    return value;
}
const std::string& prefixPath() {
    static const std::string value = supportDir() + "/prefix";
    return value;
}
const std::string& eulaAcceptedFile() {
    static const std::string value = supportDir() + "/eula-accepted";
    return value;
}
const std::string& stateFile() {
    static const std::string value = supportDir() + "/state.json";
    return value;
}

const std::string& wineDownloadURL() {
    static const std::string value = std::string(buildconfig::kDownloadBase) + "/downloads/" + wineArchiveName;
    return value;
}
const std::string& wineDownloadSHA256() {
    static const std::string value = buildconfig::kWineSha256;
    return value;
}
const std::string& steamDownloadURL() {
    static const std::string value = buildconfig::kSteamDownloadURL;
    return value;
}
const std::string& eulaURL() {
    static const std::string value = std::string(buildconfig::kWebBase) + "/eula";
    return value;
}
const std::string& privacyURL() {
    static const std::string value = std::string(buildconfig::kWebBase) + "/privacy";
    return value;
}

const std::map<std::string, std::string>& wineEnvVars() {
    static const std::map<std::string, std::string> value = {
        {"GALLIUM_DRIVER", "zink"},
        {"MESA_GL_VERSION_OVERRIDE", "4.5"},
        {"MESA_GLSL_VERSION_OVERRIDE", "450"},
        {"mesa_glthread", "true"},
        {"MVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS", "0"},
        {"MVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS", "0"},
        {"MVK_CONFIG_LOG_LEVEL", "0"},
        {"WINEESYNC", "1"},
        {"WINEDEBUG", "-all"},
    };
    return value;
}

std::map<std::string, std::string> buildSafeEnvironment(const std::string& wineprefix) {
    std::map<std::string, std::string> env;
    for (const char* name : envAllowlist) {
        if (const char* value = std::getenv(name)) env[name] = value;
    }
    env["WINEPREFIX"] = wineprefix;
    for (const auto& [name, value] : wineEnvVars()) env[name] = value;
    return env;
}

}  // namespace Constants
