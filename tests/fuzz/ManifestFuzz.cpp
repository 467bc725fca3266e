// libFuzzer entry point: any runtime.lock text decodes or is refused, and the decisions on what
// decoded hold, without a crash, a sanitizer report or a leak.
#include "runtime/RuntimeValidator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto manifest = RuntimeManifest::decode(std::string_view(reinterpret_cast<const char*>(data), size));
    (void)RuntimeValidator::requiredMacOSMajor(manifest), (void)RuntimeValidator::supportedCPUs(manifest);
    for (const auto& artifact : manifest ? manifest->artifacts : std::vector<ArtifactEntry>{})
        (void)RuntimeValidator::deployedPath("/p", artifact);
    return 0;
}
