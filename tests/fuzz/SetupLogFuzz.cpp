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
    FUZZ_ASSERT(started.starts_with("--- wine ") && started.ends_with(output) && failed == started + "\n");
    if (argumentsUtf8) FUZZ_ASSERT(WineText::isValidUtf8(started) && WineText::isValidUtf8(failed));

    if (outputUtf8) {
        for (size_t count : {size_t{0}, size_t{1}, size_t{3}, size_t{200}}) {
            const std::string lead = WineText::leadingCharacters(raw, count);
            FUZZ_ASSERT(raw.starts_with(lead) && WineText::isValidUtf8(lead) && (count > 0 || lead.empty()));
        }
        const std::string trimmed = WineText::trimWhitespace(raw);
        FUZZ_ASSERT(WineText::isValidUtf8(trimmed) && raw.find(trimmed) != std::string::npos &&
                    WineText::trimWhitespace(trimmed) == trimmed);
    }
    return 0;
}
