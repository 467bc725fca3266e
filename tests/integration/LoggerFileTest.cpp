#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "logging/Logger.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TestHome;

namespace {
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}
}  // namespace

TEST(LoggerFileTest, StartEmptiesTheLogAndWritesWholeLines) {
    TestHome home;
    testsupport::writeFile(home.supportDir() + "/launcher.log", "previous run\n");
    auto& log = Logger::shared();
    EXPECT_EQ(Logger::logPath(), home.supportDir() + "/launcher.log");
    EXPECT_EQ(readFile(Logger::logPath()), "");
    log.info("one");
    log.warn("two\nthree");
    log.log("x", "Odd Level");
    log.error("");
    auto got = lines(readFile(Logger::logPath()));
    ASSERT_EQ(got.size(), 5u);
    const std::regex stamp(R"(^\[\d\d:\d\d:\d\d\.\d{3}\] )");
    EXPECT_TRUE(std::regex_search(got[0], stamp));
    EXPECT_EQ(got[0].substr(15), "[INFO] one");
    EXPECT_EQ(got[1].substr(15), "[WARN] two");
    EXPECT_EQ(got[2], "three");
    EXPECT_EQ(got[3].substr(15), "[Odd Level] x");
    EXPECT_EQ(got[4].substr(15), "[ERROR] ");
}

TEST(LoggerFileTest, DeletedLogDropsLinesSilently) {
    TestHome home;
    auto& log = Logger::shared();
    log.info("before");
    fs::remove(Logger::logPath());
    log.info("after");
    EXPECT_FALSE(fs::exists(Logger::logPath()));
}

TEST(LoggerFileTest, UncreatableSupportDirLeavesLauncherRunning) {
    TestHome home;
    // Library is a regular file, so nothing below it can be created, even as root.
    testsupport::writeFile(home.home() + "/Library", "not a directory");
    auto& log = Logger::shared();
    log.info("dropped");
    log.logSystemInfo();
    EXPECT_FALSE(fs::exists(Logger::logPath()));
    EXPECT_EQ(readFile(home.home() + "/Library"), "not a directory");
}

TEST(LoggerFileTest, ConcurrentAppendsNeverTearOrMerge) {
    TestHome home;
    auto& log = Logger::shared();
    constexpr int kThreads = 8, kLines = 10000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kLines; ++i) log.info("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    }
    for (auto& th : threads) th.join();
    auto got = lines(readFile(Logger::logPath()));
    ASSERT_EQ(got.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex shape(R"(^\[\d\d:\d\d:\d\d\.\d{3}\] \[INFO\] thread (\d) line (\d+)$)");
    std::vector<int> next(kThreads, 0);
    for (const auto& l : got) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, shape)) << l;
        int t = std::stoi(m[1]);
        EXPECT_EQ(std::stoi(m[2]), next[t]++) << "lines of one thread out of order";
    }
}

TEST(LoggerFileTest, SystemReportNamesThePaths) {
    TestHome home;
    Logger::shared().logSystemInfo();
    auto got = lines(readFile(Logger::logPath()));
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].substr(15, 13), "[INFO] macOS ");
    EXPECT_EQ(got[3].substr(15), "[INFO] Support dir: " + home.supportDir());
    EXPECT_EQ(got[4].substr(15), "[INFO] Prefix: " + home.supportDir() + "/prefix");
    EXPECT_EQ(got[5].substr(15), "[INFO] Wine: " + home.supportDir() + "/wine/bin/wine");
}
