#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "common/Constants.h"
#include "support/TestHome.h"

namespace fs = std::filesystem;

// What lies at the legacy and the current support directory's name: "dir", "link" (dangling) or nothing.
// The support directory is fixed once per process, so each layout is its own test.
struct Layout {
    std::string name, legacy, current;
    friend std::ostream& operator<<(std::ostream& os, const Layout& l) { return os << l.name; }
};
class MigrationTest : public ::testing::TestWithParam<Layout> {};

TEST_P(MigrationTest, MovesOnlyALegacyDirectoryAndOnlyWhenNothingIsAtTheCurrentName) {
    const Layout& l = GetParam();
    testsupport::TestHome home;
    const std::string base = home.home() + "/Library/Application Support/", legacy = base + "QuillmoorLauncher",
                      current = base + "Ferrowick";
    for (const auto& [kind, path] : {std::pair(l.legacy, legacy), std::pair(l.current, current)}) {
        if (kind == "dir") testsupport::writeFile(path + "/prefix/drive_c/marker", path == legacy ? "legacy" : "");
        if (kind == "link") fs::create_directories(base), fs::create_symlink(home.root() + "/gone", path);
    }
    const bool moved = l.legacy == "dir" && l.current.empty();
    std::string eula;  // two threads racing on first use agree, and move at most once
    std::thread first([&] { eula = Constants::eulaAcceptedFile(); });
    const std::string prefix = Constants::prefixPath();
    first.join();
    EXPECT_EQ(eula + " " + prefix, current + "/eula-accepted " + current + "/prefix");
    EXPECT_EQ(fs::exists(legacy), l.legacy == "dir" && !moved);
    EXPECT_EQ(fs::is_symlink(legacy), l.legacy == "link") << "a dangling legacy link stays where it is";
    EXPECT_EQ(testsupport::readFile(prefix + "/drive_c/marker"), moved ? "legacy" : "");
    EXPECT_EQ(fs::exists(fs::symlink_status(current)), moved || !l.current.empty()) << "reading paths creates nothing";
}

INSTANTIATE_TEST_SUITE_P(Layouts, MigrationTest,
                         ::testing::Values(Layout{"OnlyLegacy", "dir", ""}, Layout{"Both", "dir", "dir"},
                                           Layout{"Neither", "", ""}, Layout{"OnlyCurrent", "", "dir"},
                                           Layout{"DanglingLinkAtCurrent", "dir", "link"},
                                           Layout{"DanglingLegacyLink", "link", ""}),
                         [](const auto& info) { return info.param.name; });
