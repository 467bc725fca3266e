#pragma once

#include <regex>
#include <string>

#include "logging/Logger.h"
#include "support/TestHome.h"

namespace testsupport {

// The launcher log's entries written after this was made, each as "LEVEL message|" (a message may span lines).
// Make it after the test's HOME.
class LogTail {
public:
    LogTail() : start_((Logger::shared(), readFile(Logger::logPath()).size())) {}

    [[nodiscard]] std::string entries() const {
        static const std::regex stamp(R"(^\[\d\d:\d\d:\d\d\.\d\d\d\] \[([A-Z]+)\] )");
        const std::string text = readFile(Logger::logPath()).substr(start_);
        std::string out;
        std::smatch m;
        for (size_t at = 0, end; at < text.size(); at = end + 1) {
            end = std::min(text.find('\n', at), text.size());
            const std::string line = text.substr(at, end - at);
            if (std::regex_search(line, m, stamp)) {
                if (!out.empty()) out += "|";
                out += m[1].str() + " " + m.suffix().str();
            } else {
                out += "\n" + line;
            }
        }
        return out.empty() ? out : out + "|";
    }

private:
    size_t start_;
};

}  // namespace testsupport
