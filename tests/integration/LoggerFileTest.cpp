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

TEST(LoggerFileTest, PrefixAndRegistryReportsReadThePrefix) {
    testsupport::TestHome home;
    const std::string prefix = Constants::prefixPath(), dlls = prefix + "/drive_c/windows/system32/";
    writeFile(dlls + "opengl32.dll", "MZ 64-bit..");
    fs::create_directories(dlls + "libgallium_wgl.dll");  // there, but with no size to read
    writeFile(dlls + "libz-1.dll", "");
    writeFile(prefix + "/system.reg", "WINE REGISTRY Version 2\n");
    Logger::shared().logPrefixState();
    EXPECT_EQ(logText(),
              "[INFO] Prefix exists: true\n[INFO] Steam exists: false\n[INFO]   system32/opengl32.dll: 11 bytes\n"
              "[INFO]   system32/libgallium_wgl.dll: 0 bytes\n[INFO]   system32/libz-1.dll: 0 bytes\n"
              "[WARN]   syswow64/opengl32.dll: MISSING\n[WARN]   syswow64/libgallium_wgl.dll: MISSING\n"
              "[WARN]   syswow64/libz-1.dll: MISSING\n");
    // The registry report lists the values of the overrides key only.
    const std::string userReg = prefix + "/user.reg", o = "[INFO]   Override: ";
    for (const auto& [text, want] : {
             std::pair<std::string, std::string>{"", ""},  // no file
             {"[DllOverrides]\n\"a\"=\"\xFF\"\n", ""},     // not text
             {"[Software\\\\Wine] 1\n\"Version\"=\"win10\"\n", ""},
             {"WINE REGISTRY Version 2\n[Software\\\\Wine\\\\Direct3D] 1\n\"renderer\"=\"gl\"\n\n"
              "[Software\\\\Wine\\\\DllOverrides] 2\n#t=1\n\"opengl32\"=\"native\"\n\t \"libz-1\"=\"native\" \t\n\n"
              "  [indented]=1\n[Software\\\\Wine\\\\X11 Driver] 3\n\"Decorated\"=\"N\"\n",
              o + "#t=1\n" + o + "\"opengl32\"=\"native\"\n" + o + "\"libz-1\"=\"native\"\n" + o + "[indented]=1\n"},
             {"[DllOverrides] 1\r\n\"a\"=\"n\"\r\n\"b\"=\"m\"", o + "\"a\"=\"n\"\n" + o + "\"b\"=\"m\"\n"},  // CRLF
             {"[DllOverrides] 1\n\"a\"=\"n\"\n[App\\\\g.exe\\\\DllOverrides] 2\n\"b\"=\"b\"\n[Other] 3\n\"c\"=\"n\"",
              o + "\"a\"=\"n\"\n" + o + "\"b\"=\"b\"\n"},  // a second overrides key continues the walk
         }) {
        fs::remove(userReg);
        if (!text.empty()) writeFile(userReg, text);
        writeFile(Logger::logPath(), "");
        Logger::shared().logWineRegistryOverrides();
        EXPECT_EQ(logText(), want) << text;
    }
}
