#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestHome.h"
#include "wine/InstallerHandoff.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TestHome;
using testsupport::writeFile;

namespace {

TEST(InstallerCopyTest, DroppedFilesAreCopiedOrRunWhereTheyLie) {
    struct Case {
        const char* name;
        std::string droppedName;  // relative to a downloads folder; empty: the copy itself
        bool droppedIsDirectory;
        bool runsCopy;
    };
    const std::vector<Case> cases = {
        {"plain installer", "SteamSetup.exe", false, true},
        {"blanks and shell characters", "My $HOME; rm -rf `x` 'Steam' \"(1)\" & | * ?.exe", false, true},
        {"folder named like an installer", "Setup.exe", true, false},
        {"the launcher's own copy", "", false, true},
    };
    TestHome home;
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string base = home.home() + "/case " + std::to_string(++index);
        const std::string support = base + "/Ferrowick";
        const std::string copy = support + InstallerHandoff::kCopyName;
        writeFile(copy, "installer from an earlier drop");

        std::string dropped = copy;
        if (!c.droppedName.empty()) {
            dropped = base + "/Downloads/" + c.droppedName;
            if (c.droppedIsDirectory) {
                fs::create_directories(dropped);
            } else {
                writeFile(dropped, "installer bytes");
            }
        }
        const std::string expectedBytes = c.droppedName.empty() ? "installer from an earlier drop" : "installer bytes";

        const std::string toRun = InstallerHandoff::prepareInstaller(dropped, support);

        EXPECT_EQ(toRun, c.runsCopy ? copy : dropped);
        if (c.runsCopy) {
            EXPECT_EQ(readFile(copy), expectedBytes);
        } else {
            // The copy of an earlier drop is gone rather than run in place of this one.
            EXPECT_FALSE(fs::exists(copy));
        }
        if (!c.droppedIsDirectory) {
            EXPECT_EQ(readFile(dropped), expectedBytes) << "the dropped file is left alone";
        }
    }
}

TEST(InstallerCopyTest, SecondDropReplacesTheCopy) {
    TestHome home;
    const std::string support = home.supportDir();
    writeFile(home.home() + "/a/SteamSetup.exe", "first");
    writeFile(home.home() + "/b/SteamSetup (1).exe", "second, a longer installer");
    ASSERT_EQ(InstallerHandoff::prepareInstaller(home.home() + "/a/SteamSetup.exe", support),
              support + "/SteamSetup.exe");
    ASSERT_EQ(InstallerHandoff::prepareInstaller(home.home() + "/b/SteamSetup (1).exe", support),
              support + "/SteamSetup.exe");
    EXPECT_EQ(readFile(support + "/SteamSetup.exe"), "second, a longer installer");
}

TEST(InstallerCopyTest, MissingSupportDirectoryIsCreated) {
    TestHome home;
    writeFile(home.home() + "/SteamSetup.exe", "bytes");
    ASSERT_FALSE(fs::exists(home.supportDir()));
    EXPECT_EQ(InstallerHandoff::prepareInstaller(home.home() + "/SteamSetup.exe", home.supportDir()),
              home.supportDir() + "/SteamSetup.exe");
    EXPECT_EQ(readFile(home.supportDir() + "/SteamSetup.exe"), "bytes");
}

}  // namespace
