#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/SystemInfo.h"
#include "runtime/RuntimeManifest.h"

// Stateless checks of the machine and of the graphics DLLs, run by the setup
// work before it touches Wine. Nothing here logs or throws. The checks that
// run a child process (CPU, digests, both DLL checks) block the calling
// thread, so they are for background threads only. The manifest is read
// afresh on every call; there is no cache.
namespace RuntimeValidator {

struct MacOSCheck {
    bool valid = false;
    std::string version;  // "major.minor.patch"
};

struct CPUCheck {
    bool valid = false;
    std::string arch;  // trimmed `uname -m`, or "unknown"
};

// The bundle's "runtime.lock", or nothing when it is missing, unreadable or
// does not decode.
[[nodiscard]] std::optional<RuntimeManifest> loadManifest();

[[nodiscard]] MacOSCheck checkMacOSVersion();
[[nodiscard]] CPUCheck checkSupportedCPU();
// Creates `path` first; a gigabyte is 2^30 bytes. The runtime download has its own, decimal 2 GB limit
// (WineDownloader::kRequiredFreeBytes); both are as users have known them, so neither follows the other.
[[nodiscard]] bool checkDiskSpace(const std::string& path, int64_t minimumGB = 2);
// `/usr/bin/shasum -a 256`; lower-case hex, or nothing when the tool fails.
[[nodiscard]] std::optional<std::string> sha256(const std::string& fileAt);
// Nothing when every listed DLL is in the bundle and intact, else the first
// fault's message.
[[nodiscard]] std::optional<std::string> validateBundledDLLs();
// Artifacts whose deployed copy under `prefixPath` is missing or differs, in
// manifest order; nothing when there is no manifest.
[[nodiscard]] std::optional<std::vector<ArtifactEntry>> staleDeployedDLLs(const std::string& prefixPath);

// Pure decisions behind the checks.
inline constexpr int64_t kDefaultMinimumMacOSMajor = 14;
inline constexpr char kDefaultSupportedCPU[] = "arm64";
inline constexpr uint64_t kBytesPerGB = 1ull << 30;

// The major version "min_macos" demands: the text before the first ".", as a
// signed decimal integer; 14 when that piece is empty or not a number.
[[nodiscard]] int64_t requiredMacOSMajor(const std::optional<RuntimeManifest>& manifest);
[[nodiscard]] MacOSCheck evaluateMacOSVersion(const platform::OSVersion& os,
                                              const std::optional<RuntimeManifest>& manifest);
[[nodiscard]] std::vector<std::string> supportedCPUs(const std::optional<RuntimeManifest>& manifest);
// `uname -m` output -> the machine name it reports.
[[nodiscard]] std::string machineName(const std::string& unameOutput);
[[nodiscard]] bool hasEnoughSpace(uint64_t freeBytes, int64_t minimumGB);
// The digest in `shasum` output: its first blank-separated piece.
[[nodiscard]] std::optional<std::string> digestFromShasumOutput(const std::string& output);
// Where an artifact is deployed inside a prefix.
[[nodiscard]] std::string deployedPath(const std::string& prefixPath, const ArtifactEntry& artifact);

// Texts of the bundle check.
inline constexpr char kManifestMissing[] = "runtime.lock manifest missing from app bundle";
inline constexpr char kNoResourcePath[] = "App bundle has no resource path";
inline constexpr char kMissingBundledDLL[] = "Missing bundled DLL: ";
inline constexpr char kChecksumFailed[] = "Failed to compute checksum for: ";
inline constexpr char kBundledDLLCorrupted[] = "Bundled DLL corrupted: ";

}  // namespace RuntimeValidator
