#pragma once

#include <string>
#include <vector>

// The Wine setup log: one section per Wine command, accumulated across
// launcher runs and never shortened. Composing a section is pure; append()
// does the file work and is safe to call from any thread.
class SetupLog {
public:
    // "--- wine " + arguments + " ---\n" + the command's output.
    static std::string startedSection(const std::vector<std::string>& arguments, const std::string& output);
    // "--- wine " + arguments + " ---\n" + the launch failure message + "\n".
    static std::string failedSection(const std::vector<std::string>& arguments, const std::string& message);

    // Appends a section to the log at `path`, serialised within the process. A
    // started section is separated from earlier text by one "\n"; a failed one
    // is appended as is. A log that is not UTF-8 or cannot be read is replaced
    // atomically by the section alone. Creates the parent directory; every
    // failure is ignored.
    static void append(const std::string& path, const std::string& section, bool started);
};
