#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The runtime manifest "runtime.lock": the graphics DLLs the bundle ships and
// the platforms the launcher runs on. Plain values; members keep their JSON
// key names.

// One DLL held in the bundle.
struct ArtifactEntry {
    std::string path;    // relative to the resource directory; its last component is the deployed name
    std::string arch;    // "x86_64" means 64-bit; anything else 32-bit
    std::string sha256;  // lower-case hexadecimal, compared exactly

    bool operator==(const ArtifactEntry&) const = default;
};

struct ManifestConstraints {
    std::optional<std::string> min_macos;
    std::optional<std::vector<std::string>> supported_cpu;

    bool operator==(const ManifestConstraints&) const = default;
};

struct RuntimeManifest {
    int64_t schema_version = 0;
    std::string product_version;
    std::vector<ArtifactEntry> artifacts;  // file order
    std::optional<ManifestConstraints> constraints;

    bool operator==(const RuntimeManifest&) const = default;

    // Strict decoding: unknown keys are ignored; a required key that is
    // missing, null or mistyped, an optional key of the wrong type, or text
    // that is not one JSON object fails the whole document. Never throws.
    [[nodiscard]] static std::optional<RuntimeManifest> decode(std::string_view json);
};
