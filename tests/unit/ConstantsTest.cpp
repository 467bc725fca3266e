#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/TestHome.h"
#include "wine/Constants.h"

namespace fs = std::filesystem;

// The support directory is fixed once per process, so each layout is its own test.
struct Layout {
    const char* name;
    bool legacy, current, currentIsDanglingLink, wantMoved;  // what is not moved stays where it was
    bool legacyIsDanglingLink = false;
};
class MigrationTest : public ::testing::TestWithParam<Layout> {};

TEST_P(MigrationTest, MovesLegacyOnlyWhenNothingIsAtTheCurrentName) {
    const Layout& c = GetParam();
    testsupport::TestHome home;
    const std::string base = home.home() + "/Library/Application Support/", legacy = base + "QuillmoorLauncher",
                      current = base + "Ferrowick";
    if (c.legacy) testsupport::writeFile(legacy + "/prefix/drive_c/marker", "legacy");
    if (c.current) testsupport::writeFile(current + "/other", "current");
    if (c.currentIsDanglingLink) fs::create_symlink(home.root() + "/nowhere", current);
    if (c.legacyIsDanglingLink) fs::create_directories(base), fs::create_symlink(home.root() + "/gone", legacy);
    // Two threads racing on first use must agree and move at most once.
    std::string eula;
    std::thread first([&] { eula = Constants::eulaAcceptedFile(); });
    const std::string prefix = Constants::prefixPath();
    first.join();
    EXPECT_EQ(eula + " " + prefix, current + "/eula-accepted " + current + "/prefix");
    EXPECT_EQ(fs::exists(legacy), c.legacy && !c.wantMoved);
    EXPECT_EQ(fs::is_symlink(legacy), c.legacyIsDanglingLink) << "a dangling legacy link stays where it is";
    EXPECT_EQ(testsupport::readFile(prefix + "/drive_c/marker"), c.wantMoved ? "legacy" : "");
    EXPECT_EQ(fs::exists(fs::symlink_status(current)), c.legacy || c.current || c.currentIsDanglingLink)
        << "reading the paths creates nothing";
}

INSTANTIATE_TEST_SUITE_P(Layouts, MigrationTest,
                         ::testing::Values(Layout{"OnlyLegacy", true, false, false, true},
                                           Layout{"Both", true, true, false, false},
                                           Layout{"Neither", false, false, false, false},
                                           Layout{"OnlyCurrent", false, true, false, false},
                                           Layout{"DanglingLinkAtCurrent", true, false, true, false},
                                           Layout{"DanglingLegacyLink", false, false, false, false, true}),
                         [](const auto& info) { return info.param.name; });
