// libFuzzer entry point: the setup log's sections over any arguments and command output, with the
// runner's text rules (output kept only when UTF-8, its leading characters quoted on a wineboot failure,
// the trimmed version). A section must keep the log UTF-8, or the next command would start the log
// afresh and lose its history.
#include <algorithm>

#include "FuzzInput.h"
#include "common/WineText.h"
#include "wine/SetupLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto args = fuzzFields(data, size);
    const std::string output = WineText::isValidUtf8(args.back()) ? args.back() : "";
    args.pop_back();
    const std::string started = SetupLog::startedSection(args, output);
    FUZZ_ASSERT(started.starts_with("--- wine ") && started.ends_with(output));
    FUZZ_ASSERT(SetupLog::failedSection(args, output) == started + "\n");
    if (std::all_of(args.begin(), args.end(), WineText::isValidUtf8)) FUZZ_ASSERT(WineText::isValidUtf8(started));
    const std::string lead = WineText::leadingCharacters(output, size % 300),
                      trimmed = WineText::trimWhitespace(output);
    FUZZ_ASSERT(output.starts_with(lead) && WineText::isValidUtf8(lead) && (size % 300 || lead.empty()));
    FUZZ_ASSERT(WineText::isValidUtf8(trimmed) && output.find(trimmed) != std::string::npos &&
                WineText::trimWhitespace(trimmed) == trimmed);
    return 0;
}
