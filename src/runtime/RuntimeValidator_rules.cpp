// The pure decisions of RuntimeValidator: no files, no child processes.
#include <charconv>

#include "common/Constants.h"
#include "common/WineText.h"
#include "runtime/RuntimeValidator.h"

namespace RuntimeValidator {

namespace {

// Accepts "+15", "-3", "007"; rejects "", "+", "1a", " 1" and anything
// outside the signed 64-bit range.
std::optional<int64_t> parseDecimal(const std::string& text) {
    size_t start = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        start = 1;
    }
    if (start == text.size()) return std::nullopt;
    for (size_t i = start; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    // from_chars takes the minus sign itself, which keeps INT64_MIN in range.
    const char* first = text.data() + start - (negative ? 1 : 0);
    const char* last = text.data() + text.size();
    int64_t value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last) return std::nullopt;
    return value;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

int64_t requiredMacOSMajor(const std::optional<RuntimeManifest>& manifest) {
    if (!manifest || !manifest->constraints || !manifest->constraints->min_macos) return kDefaultMinimumMacOSMajor;
    const std::string& text = *manifest->constraints->min_macos;
    const std::string first = text.substr(0, text.find('.'));
    return parseDecimal(first).value_or(kDefaultMinimumMacOSMajor);
}

MacOSCheck evaluateMacOSVersion(const platform::OSVersion& os, const std::optional<RuntimeManifest>& manifest) {
    MacOSCheck check;
    check.version = std::to_string(os.major) + "." + std::to_string(os.minor) + "." + std::to_string(os.patch);
    check.valid = os.major >= requiredMacOSMajor(manifest);
    return check;
}

std::vector<std::string> supportedCPUs(const std::optional<RuntimeManifest>& manifest) {
    if (manifest && manifest->constraints && manifest->constraints->supported_cpu)
        return *manifest->constraints->supported_cpu;
    return {kDefaultSupportedCPU};
}

std::string machineName(const std::string& unameOutput) {
    if (!WineText::isValidUtf8(unameOutput)) return "unknown";
    size_t begin = 0;
    size_t end = unameOutput.size();
    while (begin < end && isBlank(unameOutput[begin])) ++begin;
    while (end > begin && isBlank(unameOutput[end - 1])) --end;
    return unameOutput.substr(begin, end - begin);
}

bool hasEnoughSpace(uint64_t freeBytes, int64_t minimumGB) {
    const auto freeGB = static_cast<int64_t>(freeBytes / kBytesPerGB);
    return minimumGB <= freeGB;
}

std::optional<std::string> digestFromShasumOutput(const std::string& output) {
    if (!WineText::isValidUtf8(output)) return std::nullopt;
    const size_t begin = output.find_first_not_of(' ');
    if (begin == std::string::npos) return std::nullopt;
    std::string digest = output.substr(begin, output.find(' ', begin) - begin);
    // shasum marks a line whose file name holds a backslash or a line break
    // with a leading backslash; that mark is not part of the digest.
    if (digest.size() > 1 && digest[0] == '\\') digest.erase(0, 1);
    return digest;
}

std::string deployedPath(const std::string& prefixPath, const ArtifactEntry& artifact) {
    const char* directory = artifact.arch == "x86_64" ? Constants::system32 : Constants::syswow64;
    std::string name = artifact.path;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    name = name.substr(name.find_last_of('/') + 1);
    return prefixPath + directory + "/" + name;
}

}  // namespace RuntimeValidator
