#include "support/GoldenLog.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>
#include <sstream>

#include "support/TestHome.h"

namespace testsupport {

std::string normaliseLog(const std::string& text, const std::string& root, bool stamped) {
    static const std::regex stamp(R"(^\[\d{2}:\d{2}:\d{2}\.\d{3}\] \[[^\]]+\] )");
    static const std::vector<std::pair<std::regex, std::string>> masks = {
        {std::regex(R"(\d+\.\ds\b)"), "#.#s"},
        {std::regex(R"(\] macOS \d+\.\d+\.\d+$)"), "] macOS #.#.#"},
        {std::regex(R"(\] (CPU cores|RAM): \d+)"), "] $1: #"},
        {std::regex(R"(\] (macOS|CPU): \S+ \()"), "] $1: # ("},
        {std::regex(R"(127\.0\.0\.1:\d+)"), "127.0.0.1:PORT"},
        {std::regex(R"(after \d+ ms)"), "after # ms"},
        {std::regex(R"(\.wine-download-\w{6})"), ".wine-download-XXXXXX"},
        {std::regex(R"(prefix\.backup\.\d+)"), "prefix.backup.#"},
    };
    std::istringstream in(text);
    std::string out, line;
    while (std::getline(in, line)) {
        for (size_t at; !root.empty() && (at = line.find(root)) != std::string::npos;)
            line.replace(at, root.size(), "$ROOT");
        if (stamped && line.starts_with("[")) {
            std::smatch m;
            line = std::regex_search(line, m, stamp) ? "[HH:mm:ss.SSS] " + line.substr(15) : "BAD STAMP: " + line;
            for (const auto& [pattern, replacement] : masks) line = std::regex_replace(line, pattern, replacement);
        }
        out += line + "\n";
    }
    return out;
}

std::string journeyLogs(const TestHome& home) {
    const std::string dir = home.supportDir();
    return "=== launcher.log ===\n" + normaliseLog(readFile(dir + "/launcher.log"), home.root(), true) +
           "=== setup-output.log ===\n" + normaliseLog(readFile(dir + "/setup-output.log"), home.root(), false);
}

void expectGolden(const std::string& name, const std::string& actual) {
    const std::string golden = FERROWICK_SOURCE_DIR "/tests/golden/" + name,
                      actualPath = testing::TempDir() + "/actual";
    if (const char* update = ::getenv("FERROWICK_UPDATE_GOLDEN"); update && std::string(update) == "1")
        return writeFile(golden, actual);
    if (readFile(golden) == actual) return;
    writeFile(actualPath, actual);
    const std::string diff = "diff -u --label tests/golden/" + name + " --label actual '" + golden + "' '" +
                             actualPath + "' > '" + actualPath + ".diff'";
    (void)std::system(diff.c_str());
    ADD_FAILURE() << "differs from tests/golden/" << name << " (FERROWICK_UPDATE_GOLDEN=1 rewrites it):\n"
                  << readFile(actualPath + ".diff");
}

}  // namespace testsupport
