// libFuzzer entry point: the DllOverrides walk over any user.reg text. Each line it reports is a whole,
// trimmed value line of the text, never Wine's "#" bookkeeping, and none comes without the key.
#include "FuzzInput.h"
#include "logging/Logger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const auto& line : Logger::registryOverrideLines(text)) {
        const std::string value = line.substr(12);
        FUZZ_ASSERT(line.starts_with("  Override: ") && value.find('=') != std::string::npos);
        FUZZ_ASSERT(value.find('\n') == std::string::npos && text.find(value) != std::string::npos);
        FUZZ_ASSERT(text.find("DllOverrides") != std::string::npos && value.front() != '#');
        for (char end : {value.front(), value.back()}) FUZZ_ASSERT(end != ' ' && end != '\t');
    }
    return 0;
}
