#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/TestHome.h"
#include "wine/Constants.h"

namespace fs = std::filesystem;

TEST(ConstantsTest, SafeEnvironmentIsTheAllowlistPlusWineSettings) {
    testsupport::TestHome home;
    const std::string prefix = home.home() + "/my prefix";
    for (const auto& [name, value] :
         {std::pair{"TMPDIR", ""}, {"LANG", "de"}, {"LC_ALL", "C"}, {"WINEDEBUG", "+all"}, {"WINEPREFIX", "/x"}})
        ::setenv(name, value, 1);
    ::unsetenv("USER");
    auto want = Constants::wineEnvVars();
    want.insert(
        {{"HOME", home.home()}, {"PATH", ::getenv("PATH")}, {"TMPDIR", ""}, {"LANG", "de"}, {"WINEPREFIX", prefix}});
    EXPECT_EQ(Constants::buildSafeEnvironment(prefix), want);
}

// The support directory is fixed once per process, so each layout is its own test.
struct Layout {
    const char* name;
    bool legacy, current, currentIsDanglingLink, wantLegacyAfter, wantMoved;
};
class MigrationTest : public ::testing::TestWithParam<Layout> {};

TEST_P(MigrationTest, MovesLegacyOnlyWhenNothingIsAtTheCurrentName) {
    const Layout& c = GetParam();
    testsupport::TestHome home;
    const std::string base = home.home() + "/Library/Application Support", legacy = base + "/QuillmoorLauncher";
    const std::string current = base + "/Ferrowick";
    if (c.legacy) testsupport::writeFile(legacy + "/prefix/drive_c/marker", "legacy");
    if (c.current) testsupport::writeFile(current + "/other", "current");
    if (c.currentIsDanglingLink) fs::create_symlink(home.root() + "/nowhere", current);
    // Two threads racing on first use must agree and move at most once.
    std::string eula, prefix;
    std::thread first([&] { eula = Constants::eulaAcceptedFile(); });
    prefix = Constants::prefixPath();
    first.join();
    EXPECT_EQ(eula, current + "/eula-accepted");
    EXPECT_EQ(prefix, current + "/prefix");
    EXPECT_EQ(fs::exists(legacy), c.wantLegacyAfter);
    EXPECT_EQ(testsupport::readFile(prefix + "/drive_c/marker"), c.wantMoved ? "legacy" : "");
    EXPECT_EQ(fs::exists(fs::symlink_status(current)), c.legacy || c.current || c.currentIsDanglingLink)
        << "reading the paths creates nothing";
}

INSTANTIATE_TEST_SUITE_P(Layouts, MigrationTest,
                         ::testing::Values(Layout{"OnlyLegacy", true, false, false, false, true},
                                           Layout{"Both", true, true, false, true, false},
                                           Layout{"Neither", false, false, false, false, false},
                                           Layout{"OnlyCurrent", false, true, false, false, false},
                                           Layout{"DanglingLinkAtCurrent", true, false, true, true, false}),
                         [](const auto& info) { return info.param.name; });
