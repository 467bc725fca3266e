#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "logging/Logger.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TestHome;
using testsupport::writeFile;

namespace {

// The log's lines without their time stamps: "[LEVEL] message".
std::vector<std::string> loggedLines() {
    std::vector<std::string> out;
    std::istringstream in(readFile(Logger::logPath()));
    for (std::string l; std::getline(in, l);) out.push_back(l.size() > 15 ? l.substr(15) : l);
    return out;
}

// Paths and the logger are fixed once per process, so cases share one home
// and start from an empty prefix and an empty log.
void resetPrefixAndLog() {
    fs::remove_all(Constants::prefixPath());
    writeFile(Logger::logPath(), "");
}

}  // namespace

TEST(PrefixReportTest, ReportsPresenceAndDllSizes) {
    struct Case {
        const char* name;
        bool systemReg, steam, syswow64;
        std::vector<std::string> want;
    } cases[] = {
        {"complete prefix",
         true,
         true,
         true,
         {"[INFO] Prefix exists: true", "[INFO] Steam exists: true", "[INFO]   system32/opengl32.dll: 11 bytes",
          "[INFO]   system32/libgallium_wgl.dll: 0 bytes", "[INFO]   system32/libz-1.dll: 1 bytes",
          "[INFO]   syswow64/opengl32.dll: 12 bytes", "[INFO]   syswow64/libgallium_wgl.dll: 0 bytes",
          "[INFO]   syswow64/libz-1.dll: 2 bytes"}},
        {"no 32-bit system directory, no Steam",
         true,
         false,
         false,
         {"[INFO] Prefix exists: true", "[INFO] Steam exists: false", "[INFO]   system32/opengl32.dll: 11 bytes",
          "[INFO]   system32/libgallium_wgl.dll: 0 bytes", "[INFO]   system32/libz-1.dll: 1 bytes",
          "[WARN]   syswow64/opengl32.dll: MISSING", "[WARN]   syswow64/libgallium_wgl.dll: MISSING",
          "[WARN]   syswow64/libz-1.dll: MISSING"}},
    };
    TestHome home;
    Logger::shared();
    for (const auto& c : cases) {
        resetPrefixAndLog();
        const std::string prefix = home.supportDir() + "/prefix";
        if (c.systemReg) writeFile(prefix + "/system.reg", "WINE REGISTRY Version 2\n");
        if (c.steam) writeFile(prefix + Constants::steamExeUnix, "MZ");
        writeFile(prefix + Constants::system32 + "/opengl32.dll", "MZ 64-bit..");
        // A directory where a DLL belongs exists, but has no size to report.
        fs::create_directories(prefix + Constants::system32 + "/libgallium_wgl.dll");
        writeFile(prefix + Constants::system32 + "/libz-1.dll", "z");
        if (c.syswow64) {
            writeFile(prefix + Constants::syswow64 + "/opengl32.dll", "MZ 32-bit...");
            writeFile(prefix + Constants::syswow64 + "/libgallium_wgl.dll", "");
            writeFile(prefix + Constants::syswow64 + "/libz-1.dll", "zz");
        }
        Logger::shared().logPrefixState();
        EXPECT_EQ(loggedLines(), c.want) << c.name;
    }
}

TEST(PrefixReportTest, EmptyPrefixReportsEverythingMissing) {
    TestHome home;
    Logger::shared().logPrefixState();
    const auto got = loggedLines();
    ASSERT_EQ(got.size(), 8u);
    EXPECT_EQ(got[0], "[INFO] Prefix exists: false");
    EXPECT_EQ(got[1], "[INFO] Steam exists: false");
    for (size_t i = 2; i < got.size(); ++i) {
        EXPECT_TRUE(got[i].starts_with("[WARN]   sys")) << got[i];
        EXPECT_TRUE(got[i].ends_with(".dll: MISSING")) << got[i];
    }
}

TEST(PrefixReportTest, RegistryReportReadsTheUserRegistryFile) {
    struct Case {
        const char* name;
        std::optional<std::string> userReg;  // nullopt: no file
        bool asDirectory;
        std::vector<std::string> want;
    } cases[] = {
        {"overrides",
         "[Software\\\\Wine\\\\DllOverrides] 1\r\n\"opengl32\"=\"native\"\r\n[Other] 2\r\n\"x\"=\"1\"\r\n",
         false,
         {"[INFO]   Override: \"opengl32\"=\"native\""}},
        {"missing file", std::nullopt, false, {}},
        {"directory instead of a file", std::nullopt, true, {}},
        {"not UTF-8 text", "[DllOverrides]\n\"a\"=\"\xFF\"\n", false, {}},
    };
    TestHome home;
    Logger::shared();
    for (const auto& c : cases) {
        resetPrefixAndLog();
        const std::string path = home.supportDir() + "/prefix/user.reg";
        if (c.userReg) writeFile(path, *c.userReg);
        if (c.asDirectory) fs::create_directories(path);
        Logger::shared().logWineRegistryOverrides();
        EXPECT_EQ(loggedLines(), c.want) << c.name;
    }
}
