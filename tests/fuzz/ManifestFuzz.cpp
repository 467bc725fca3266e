// libFuzzer entry point: any runtime.lock text must decode or be refused, and
// the decisions on what decoded must hold, without a crash, sanitizer report or leak.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/RuntimeValidator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto manifest = RuntimeManifest::decode(std::string_view(reinterpret_cast<const char*>(data), size));
    (void)RuntimeValidator::requiredMacOSMajor(manifest);
    (void)RuntimeValidator::supportedCPUs(manifest);
    for (const auto& artifact : manifest ? manifest->artifacts : std::vector<ArtifactEntry>{})
        (void)RuntimeValidator::deployedPath("/p", artifact);
    return 0;
}
