#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>

// Gathers versions, the Wine environment settings, the state file, Wine's and
// Steam's logs and the game's debug logs into one flat zip archive in the
// user's temporary directory. Stateless; blocks while its tools run, so call
// it on a background thread, and never run two exports at the same time.
class DiagnosticsExporter {
public:
    // The system tools the export runs. Only tests point these elsewhere.
    struct Tools {
        std::string swVers = "/usr/bin/sw_vers";
        std::string tail = "/usr/bin/tail";
        std::string zip = "/usr/bin/zip";
    };

    static constexpr char stagingName[] = "quillmoor-diagnostics";
    static constexpr char archiveName[] = "quillmoor-diagnostics.zip";

    // The environment variables reported in "env_vars.txt", in order.
    static constexpr std::array<const char*, 11> watchedVariables = {
        "GALLIUM_DRIVER",
        "MESA_GL_VERSION_OVERRIDE",
        "MESA_GLSL_VERSION_OVERRIDE",
        "mesa_glthread",
        "mesa_no_error",
        "MVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS",
        "MVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS",
        "MVK_CONFIG_LOG_LEVEL",
        "WINEESYNC",
        "WINEDEBUG",
        "WINEPREFIX",
    };

    // Builds the archive for the prefix at `prefixPath` (no trailing "/") and
    // returns its absolute path, or nullopt when no archive could be made.
    // Named exportArchive because `export` is reserved in C++.
    [[nodiscard]] static std::optional<std::string> exportArchive(const std::string& prefixPath);
    [[nodiscard]] static std::optional<std::string> exportArchive(const std::string& prefixPath, const Tools& tools);

    // "NAME=value\n" for every watched variable: the Wine setting when there
    // is one, else `launcherValue(NAME)`, else "(not set)".
    using EnvLookup = std::function<std::optional<std::string>(const std::string&)>;
    static std::string environmentText(const std::map<std::string, std::string>& wineSettings,
                                       const EnvLookup& launcherValue);
};
