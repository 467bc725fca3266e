#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "common/Constants.h"
#include "logging/Logger.h"
#include "support/GoldenLog.h"
#include "support/TestHome.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

// The log with each line's time stamp checked and masked.
static std::string logText() {
    return testsupport::normaliseLog(readFile(Logger::logPath()), "", true);
}

TEST(LoggerFileTest, StartEmptiesTheLogWhichTakesWholeLinesFromManyThreadsUntilDeleted) {
    testsupport::TestHome home;
    writeFile(home.supportDir() + "/launcher.log", "previous run\n");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 10000; ++i) Logger::shared().info(std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& th : threads) th.join();
    std::istringstream in(logText());
    std::vector<int> next(8, 0);
    for (std::string l; std::getline(in, l);) {
        int t = -1, i = -1, n = 0;  // every line whole, each thread's in order, nothing of the previous run
        ASSERT_TRUE(std::sscanf(l.c_str(), "[HH:mm:ss.SSS] [INFO] %d line %d%n", &t, &i, &n) == 2 &&
                    n == static_cast<int>(l.size()) && i == next.at(t)++)
            << l;
    }
    EXPECT_EQ(next, std::vector<int>(8, 10000));
    fs::remove(Logger::logPath());
    Logger::shared().info("dropped");
    EXPECT_FALSE(fs::exists(Logger::logPath()));
}

TEST(LoggerFileTest, Reports) {
    testsupport::TestHome home;
    // Memory in units of 2^30 bytes: 17 GiB less one byte is 16.
    EXPECT_EQ(Logger::systemReportLines({14, 5, 1}, 8, 18'253'611'007, "/s", "/p", "/w"),
              (std::vector<std::string>{"macOS 14.5.1", "CPU cores: 8", "RAM: 16 GB", "Support dir: /s", "Prefix: /p",
                                        "Wine: /w"}));
    // CRLF lines read as LF ones, so no carriage return ends up inside a log line.
    EXPECT_EQ(Logger::registryOverrideLines("[DllOverrides] 1\r\n\"a\"=\"n\"\r\n[X] 2\r\n\"b\"=\"m\""),
              std::vector<std::string>{"  Override: \"a\"=\"n\""});
    const std::string windows = Constants::prefixPath() + "/drive_c/windows/";
    writeFile(Constants::prefixPath() + "/system.reg", "");
    writeFile(windows + "system32/opengl32.dll", "12345");
    writeFile(windows + "system32/libz-1.dll", "");
    fs::create_directories(windows + "system32/libgallium_wgl.dll");  // a directory counts as present, size 0
    writeFile(Logger::logPath(), "");
    Logger::shared().logPrefixState();
    EXPECT_EQ(logText(),
              "[HH:mm:ss.SSS] [INFO] Prefix exists: true\n[HH:mm:ss.SSS] [INFO] Steam exists: false\n"
              "[HH:mm:ss.SSS] [INFO]   system32/opengl32.dll: 5 bytes\n"
              "[HH:mm:ss.SSS] [INFO]   system32/libgallium_wgl.dll: 0 bytes\n"
              "[HH:mm:ss.SSS] [INFO]   system32/libz-1.dll: 0 bytes\n"
              "[HH:mm:ss.SSS] [WARN]   syswow64/opengl32.dll: MISSING\n"
              "[HH:mm:ss.SSS] [WARN]   syswow64/libgallium_wgl.dll: MISSING\n"
              "[HH:mm:ss.SSS] [WARN]   syswow64/libz-1.dll: MISSING\n");
}
