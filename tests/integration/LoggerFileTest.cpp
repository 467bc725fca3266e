#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "logging/Logger.h"
#include "support/TestHome.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

// The log without the "[HH:mm:ss.SSS] " stamp that starts each line.
static std::string logText() {
    std::istringstream in(readFile(Logger::logPath()));
    std::string out;
    for (std::string l; std::getline(in, l);) out += (l[0] == '[' ? l.substr(15) : l) + "\n";
    return out;
}

TEST(LoggerFileTest, StartEmptiesTheLogWhichTakesWholeLinesFromManyThreadsUntilDeleted) {
    testsupport::TestHome home;
    writeFile(home.supportDir() + "/launcher.log", "previous run\n");
    EXPECT_EQ(Logger::logPath(), home.supportDir() + "/launcher.log");
    constexpr int kThreads = 8, kLines = 10000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) Logger::shared().info(std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& th : threads) th.join();
    std::istringstream in(logText());
    std::vector<int> next(kThreads, 0);
    int t = -1, i = -1;
    for (std::string l; std::getline(in, l);) {
        char more;
        ASSERT_EQ(std::sscanf(l.c_str(), "[INFO] %d line %d%c", &t, &i, &more), 2) << l;
        ASSERT_EQ(i, next.at(t)++) << "lines of one thread out of order";
    }
    EXPECT_EQ(next, std::vector<int>(kThreads, kLines)) << "every line once, and nothing of the previous run";
    writeFile(Logger::logPath(), "");
    Logger::shared().warn("two\nthree");
    Logger::shared().log("x", "Odd Level");
    EXPECT_EQ(logText(), "[WARN] two\nthree\n[Odd Level] x\n");
    fs::remove(Logger::logPath());
    Logger::shared().info("dropped");
    EXPECT_FALSE(fs::exists(Logger::logPath()));
    // The registry report reads CRLF lines as LF ones, so no carriage return ends up inside a log line.
    EXPECT_EQ(Logger::registryOverrideLines("[DllOverrides] 1\r\n\"a\"=\"n\"\r\n[X] 2\r\n\"b\"=\"m\""),
              std::vector<std::string>{"  Override: \"a\"=\"n\""});
}
