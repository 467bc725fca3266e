// libFuzzer entry point: the setup log's sections over any arguments and
// command output, with the runner's text rules (output kept only when it is
// UTF-8, the leading characters quoted on a wineboot failure, the trimmed
// version text). A section must keep the log readable as UTF-8, or the next
// command would start the log afresh and lose its history.
#include <string>

#include "FuzzInput.h"
#include "wine/SetupLog.h"
#include "wine/WineText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto fields = fuzzFields(data, size);
    const std::string raw = fields.back();
    fields.pop_back();
    bool argumentsUtf8 = true;
    for (const auto& argument : fields) argumentsUtf8 = argumentsUtf8 && WineText::isValidUtf8(argument);

    const bool outputUtf8 = WineText::isValidUtf8(raw);
    const std::string output = outputUtf8 ? raw : std::string();
    const std::string started = SetupLog::startedSection(fields, output);
    const std::string failed = SetupLog::failedSection(fields, output);
    FUZZ_ASSERT(started.rfind("--- wine ", 0) == 0);
    FUZZ_ASSERT(started.size() >= output.size() &&
                started.compare(started.size() - output.size(), output.size(), output) == 0);
    FUZZ_ASSERT(failed == started + "\n");
    if (argumentsUtf8) FUZZ_ASSERT(WineText::isValidUtf8(started) && WineText::isValidUtf8(failed));

    if (outputUtf8) {
        for (size_t count : {size_t{0}, size_t{1}, size_t{3}, size_t{200}}) {
            const std::string lead = WineText::leadingCharacters(raw, count);
            FUZZ_ASSERT(raw.compare(0, lead.size(), lead) == 0);
            FUZZ_ASSERT(WineText::isValidUtf8(lead));
            FUZZ_ASSERT(count > 0 || lead.empty());
            FUZZ_ASSERT(lead.size() <= raw.size());
        }
        const std::string trimmed = WineText::trimWhitespace(raw);
        FUZZ_ASSERT(WineText::isValidUtf8(trimmed));
        FUZZ_ASSERT(raw.find(trimmed) != std::string::npos);
        FUZZ_ASSERT(WineText::trimWhitespace(trimmed) == trimmed);
    }
    return 0;
}
