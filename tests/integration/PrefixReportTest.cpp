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
using Lines = std::vector<std::string>;

namespace {

// The log's lines without their time stamps: "[LEVEL] message".
Lines loggedLines() {
    Lines out;
    std::istringstream in(readFile(Logger::logPath()));
    for (std::string l; std::getline(in, l);) out.push_back(l.substr(15));
    return out;
}

// Paths and the logger are fixed once per process, so cases share one home
// and each starts from an empty prefix and an empty log.
void resetPrefixAndLog() {
    fs::remove_all(Constants::prefixPath());
    writeFile(Logger::logPath(), "");
}

}  // namespace

TEST(PrefixReportTest, ReportsPresenceAndDllSizes) {
    const std::string windows = "/drive_c/windows/";
    struct Case {
        const char* name;
        bool complete;
        Lines want;
    } cases[] = {
        {"complete prefix",
         true,
         {"[INFO] Prefix exists: true", "[INFO] Steam exists: true", "[INFO]   system32/opengl32.dll: 11 bytes",
          "[INFO]   system32/libgallium_wgl.dll: 0 bytes", "[INFO]   system32/libz-1.dll: 1 bytes",
          "[INFO]   syswow64/opengl32.dll: 12 bytes", "[INFO]   syswow64/libgallium_wgl.dll: 0 bytes",
          "[INFO]   syswow64/libz-1.dll: 2 bytes"}},
        {"no 32-bit system directory, no Steam, no system.reg",
         false,
         {"[INFO] Prefix exists: false", "[INFO] Steam exists: false", "[INFO]   system32/opengl32.dll: 11 bytes",
          "[INFO]   system32/libgallium_wgl.dll: 0 bytes", "[INFO]   system32/libz-1.dll: 1 bytes",
          "[WARN]   syswow64/opengl32.dll: MISSING", "[WARN]   syswow64/libgallium_wgl.dll: MISSING",
          "[WARN]   syswow64/libz-1.dll: MISSING"}},
    };
    TestHome home;
    Logger::shared();
    for (const auto& c : cases) {
        resetPrefixAndLog();
        const std::string prefix = Constants::prefixPath();
        writeFile(prefix + windows + "system32/opengl32.dll", "MZ 64-bit..");
        // Something that exists where a DLL belongs but has no size to read.
        fs::create_directories(prefix + windows + "system32/libgallium_wgl.dll");
        writeFile(prefix + windows + "system32/libz-1.dll", "z");
        if (c.complete) {
            writeFile(prefix + "/system.reg", "WINE REGISTRY Version 2\n");
            writeFile(prefix + Constants::steamExeUnix, "MZ");
            writeFile(prefix + windows + "syswow64/opengl32.dll", "MZ 32-bit...");
            writeFile(prefix + windows + "syswow64/libgallium_wgl.dll", "");
            writeFile(prefix + windows + "syswow64/libz-1.dll", "zz");
        }
        Logger::shared().logPrefixState();
        EXPECT_EQ(loggedLines(), c.want) << c.name;
    }
}

TEST(PrefixReportTest, RegistryReportWritesOnlyWhatItCanRead) {
    struct Case {
        const char* name;
        const char* userReg;  // nullptr: no file
        bool asDirectory;
        Lines want;
    } cases[] = {
        {"overrides",
         "[Software\\\\Wine\\\\DllOverrides] 1\n\"opengl32\"=\"native\"\n[Other] 2\n\"x\"=\"1\"\n",
         false,
         {"[INFO]   Override: \"opengl32\"=\"native\""}},
        {"missing file", nullptr, false, {}},
        {"directory instead of a file", nullptr, true, {}},
        {"not UTF-8 text", "[DllOverrides]\n\"a\"=\"\xFF\"\n", false, {}},
    };
    TestHome home;
    Logger::shared();
    for (const auto& c : cases) {
        resetPrefixAndLog();
        const std::string path = Constants::prefixPath() + "/user.reg";
        if (c.userReg) writeFile(path, c.userReg);
        if (c.asDirectory) fs::create_directories(path);
        Logger::shared().logWineRegistryOverrides();
        EXPECT_EQ(loggedLines(), c.want) << c.name;
    }
}
