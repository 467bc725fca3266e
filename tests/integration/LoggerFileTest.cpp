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
using Lines = std::vector<std::string>;

// The log's lines, each without the "[HH:mm:ss.SSS] " stamp its line starts with.
static Lines logLines() {
    Lines out;
    std::istringstream in(readFile(Logger::logPath()));
    for (std::string l; std::getline(in, l);) out.push_back(l[0] == '[' ? l.substr(15) : l);
    return out;
}

TEST(LoggerFileTest, StartEmptiesTheLogWhichThenTakesWholeLinesUntilDeleted) {
    testsupport::TestHome home;
    writeFile(home.supportDir() + "/launcher.log", "previous run\n");
    auto& log = Logger::shared();
    EXPECT_EQ(Logger::logPath(), home.supportDir() + "/launcher.log");
    log.warn("two\nthree");
    log.log("x", "Odd Level");
    EXPECT_EQ(logLines(), (Lines{"[WARN] two", "three", "[Odd Level] x"}));
    fs::remove(Logger::logPath());
    log.info("dropped");
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
    const Lines got = logLines();
    ASSERT_EQ(got.size(), static_cast<size_t>(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    for (const auto& l : got) {
        int t = -1, i = -1;
        char more;
        ASSERT_EQ(std::sscanf(l.c_str(), "[INFO] %d line %d%c", &t, &i, &more), 2) << l;
        ASSERT_EQ(i, next.at(t)++) << "lines of one thread out of order";
    }
}

TEST(LoggerFileTest, PrefixAndRegistryReportsReadThePrefix) {
    testsupport::TestHome home;
    const std::string prefix = Constants::prefixPath(), dlls = prefix + "/drive_c/windows/system32/";
    writeFile(dlls + "opengl32.dll", "MZ 64-bit..");
    fs::create_directories(dlls + "libgallium_wgl.dll");  // there, but with no size to read
    writeFile(dlls + "libz-1.dll", "");
    writeFile(prefix + "/system.reg", "WINE REGISTRY Version 2\n");
    Logger::shared().logPrefixState();
    Logger::shared().logWineRegistryOverrides();  // no user.reg: nothing
    writeFile(prefix + "/user.reg", "[Software\\\\Wine\\\\DllOverrides] 1\n\"opengl32\"=\"native\"\n");
    Logger::shared().logWineRegistryOverrides();
    writeFile(prefix + "/user.reg", "[DllOverrides]\n\"a\"=\"\xFF\"\n");
    Logger::shared().logWineRegistryOverrides();  // not text: nothing
    EXPECT_EQ(
        logLines(),
        (Lines{"[INFO] Prefix exists: true", "[INFO] Steam exists: false", "[INFO]   system32/opengl32.dll: 11 bytes",
               "[INFO]   system32/libgallium_wgl.dll: 0 bytes", "[INFO]   system32/libz-1.dll: 0 bytes",
               "[WARN]   syswow64/opengl32.dll: MISSING", "[WARN]   syswow64/libgallium_wgl.dll: MISSING",
               "[WARN]   syswow64/libz-1.dll: MISSING", "[INFO]   Override: \"opengl32\"=\"native\""}));
}
