#pragma once

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

    // Builds the archive for the prefix at `prefixPath` (no trailing "/") and
    // returns its absolute path, or nullopt when no archive could be made.
    // Named exportArchive because `export` is reserved in C++.
    [[nodiscard]] static std::optional<std::string> exportArchive(const std::string& prefixPath);
    [[nodiscard]] static std::optional<std::string> exportArchive(const std::string& prefixPath, const Tools& tools);
};
