#include "runtime/RuntimeValidator.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/Bundle.h"
#include "platform/Subprocess.h"

namespace fs = std::filesystem;

namespace RuntimeValidator {

namespace {

// Output of a system tool, stderr discarded. The tools get an empty
// environment: nothing of the launcher's can change what they print.
std::optional<platform::Subprocess::RunResult> runTool(const char* executable, std::vector<std::string> arguments) {
    platform::SubprocessSpec child;
    child.executable = executable;
    child.arguments = std::move(arguments);
    child.output = platform::OutputMode::PipeStdout;
    return platform::Subprocess::run(child);
}

std::optional<std::string> readWholeFile(const std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    // A failed read throws from libstdc++'s stream buffer, whatever the stream's exception mask.
    try {
        std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (in.bad()) return std::nullopt;
        return data;
    } catch (const std::ios_base::failure&) {
        return std::nullopt;
    }
}

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

}  // namespace

std::optional<RuntimeManifest> loadManifest() {
    const std::string resources = platform::Bundle::resourcePath();
    if (resources.empty()) return std::nullopt;
    auto data = readWholeFile(resources + "/runtime.lock");
    if (!data) return std::nullopt;
    return RuntimeManifest::decode(*data);
}

MacOSCheck checkMacOSVersion() {
    return evaluateMacOSVersion(platform::SystemInfo::osVersion(), loadManifest());
}

CPUCheck checkSupportedCPU() {
    auto result = runTool("/usr/bin/uname", {"-m"});
    if (!result) return {false, "unknown"};
    CPUCheck check;
    check.arch = machineName(result->output);
    const auto cpus = supportedCPUs(loadManifest());
    check.valid = std::find(cpus.begin(), cpus.end(), check.arch) != cpus.end();
    return check;
}

bool checkDiskSpace(const std::string& path, int64_t minimumGB) {
    std::error_code ec;
    fs::create_directories(path, ec);  // best effort; measuring tells whether it worked
    const fs::space_info space = fs::space(path, ec);
    if (ec) return false;
    return hasEnoughSpace(space.available, minimumGB);
}

std::optional<std::string> sha256(const std::string& fileAt) {
    auto result = runTool("/usr/bin/shasum", {"-a", "256", fileAt});
    if (!result || result->exit.signaled || result->exit.status != 0) return std::nullopt;
    return digestFromShasumOutput(result->output);
}

std::optional<std::string> validateBundledDLLs() {
    const auto manifest = loadManifest();
    if (!manifest) return kManifestMissing;
    const std::string resources = platform::Bundle::resourcePath();
    if (resources.empty()) return kNoResourcePath;
    for (const ArtifactEntry& artifact : manifest->artifacts) {
        const std::string bundled = resources + "/" + artifact.path;
        if (!exists(bundled)) return kMissingBundledDLL + artifact.path;
        const auto digest = sha256(bundled);
        if (!digest) return kChecksumFailed + artifact.path;
        if (*digest != artifact.sha256) {
            return kBundledDLLCorrupted + artifact.path + "\nExpected: " + artifact.sha256 + "\nGot: " + *digest;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<ArtifactEntry>> staleDeployedDLLs(const std::string& prefixPath) {
    const auto manifest = loadManifest();
    if (!manifest) return std::nullopt;
    std::vector<ArtifactEntry> stale;
    for (const ArtifactEntry& artifact : manifest->artifacts) {
        const std::string deployed = deployedPath(prefixPath, artifact);
        if (!exists(deployed)) {
            stale.push_back(artifact);
            continue;
        }
        const auto digest = sha256(deployed);
        if (!digest || *digest != artifact.sha256) stale.push_back(artifact);
    }
    return stale;
}

}  // namespace RuntimeValidator
