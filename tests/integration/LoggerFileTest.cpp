#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "logging/Logger.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

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

TEST(LoggerFileTest, StartEmptiesTheLogWhichThenTakesWholeLinesUntilDeleted) {
    testsupport::TestHome home;
    writeFile(home.supportDir() + "/launcher.log", "previous run\n");
    EXPECT_EQ(Logger::logPath(), home.supportDir() + "/launcher.log");
    Logger::shared().warn("two\nthree");
    Logger::shared().log("x", "Odd Level");
    EXPECT_EQ(logText(), "[WARN] two\nthree\n[Odd Level] x\n");
    fs::remove(Logger::logPath());
    Logger::shared().info("dropped");
    EXPECT_FALSE(fs::exists(Logger::logPath()));
}

TEST(LoggerFileTest, UncreatableSupportDirLeavesLauncherRunning) {
    testsupport::TestHome home;
    // Library is a regular file, so nothing below it can be created, even as root.
    writeFile(home.home() + "/Library", "not a directory");
    Logger::shared().logSystemInfo();
    EXPECT_FALSE(fs::exists(Logger::logPath()));
    EXPECT_EQ(readFile(home.home() + "/Library"), "not a directory");
}

TEST(LoggerFileTest, ConcurrentAppendsNeverTearOrMerge) {
    testsupport::TestHome home;
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
    EXPECT_EQ(next, std::vector<int>(kThreads, kLines)) << "every line once";
}

TEST(LoggerFileTest, RegistryReportListsOverrideValuesReadingCrlfAsLf) {
    testsupport::TestHome home;
    const std::string userReg = Constants::prefixPath() + "/user.reg", o = "[INFO]   Override: ";
    for (const auto& [text, want] : {
             std::pair<std::string, std::string>{"[DllOverrides]\n\"a\"=\"\xFF\"\n", ""},  // not text
             {"[Software\\\\Wine\\\\Direct3D] 1\n\"renderer\"=\"gl\"\n\n[Software\\\\Wine\\\\DllOverrides] 2\n#t=1\n"
              "\t \"libz-1\"=\"native\" \t\n[App\\\\DllOverrides] 3\n\"b\"=\"b\"\n[Software\\\\Wine\\\\X11 Driver] 4\n"
              "\"Decorated\"=\"N\"\n",
              o + "#t=1\n" + o + "\"libz-1\"=\"native\"\n" + o + "\"b\"=\"b\"\n"},
             {"[DllOverrides] 1\r\n\"a\"=\"n\"\r\n\"b\"=\"m\"", o + "\"a\"=\"n\"\n" + o + "\"b\"=\"m\"\n"},
         }) {
        writeFile(userReg, text);
        writeFile(Logger::logPath(), "");
        Logger::shared().logWineRegistryOverrides();
        EXPECT_EQ(logText(), want) << text;
    }
}
