// libFuzzer entry point: the DllOverrides walk over any user.reg text. Every
// line it reports is one whole registry value line, trimmed, and never more
// lines come out than the text has lines holding "=".
#include <algorithm>
#include <string>

#include "FuzzInput.h"
#include "logging/Logger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto lines = Logger::registryOverrideLines(text);
    size_t valueLines = 0;
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        if (text.substr(start, end - start).find('=') != std::string::npos) ++valueLines;
        start = end + 1;
    }
    FUZZ_ASSERT(lines.size() <= valueLines);
    if (text.find("DllOverrides") == std::string::npos) FUZZ_ASSERT(lines.empty());
    for (const auto& line : lines) {
        FUZZ_ASSERT(line.starts_with("  Override: "));
        const std::string value = line.substr(12);
        FUZZ_ASSERT(value.find('=') != std::string::npos && value.find('\n') == std::string::npos);
        for (char end : {value.front(), value.back()}) FUZZ_ASSERT(end != ' ' && end != '\t');
        FUZZ_ASSERT(text.find(value) != std::string::npos);
    }
    return 0;
}
