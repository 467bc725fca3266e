// libFuzzer entry point for runtime.lock decoding and the decisions taken on
// the decoded constraints. Any input must decode or be refused without a
// crash, a sanitizer report or a leak.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/RuntimeManifest.h"
#include "runtime/RuntimeValidator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto manifest = RuntimeManifest::decode(std::string_view(reinterpret_cast<const char*>(data), size));
    (void)RuntimeValidator::requiredMacOSMajor(manifest);
    (void)RuntimeValidator::supportedCPUs(manifest);
    if (manifest) {
        for (const auto& artifact : manifest->artifacts) (void)RuntimeValidator::deployedPath("/p", artifact);
    }
    return 0;
}
