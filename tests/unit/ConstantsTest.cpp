#include "wine/Constants.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/TestHome.h"

namespace fs = std::filesystem;
using testsupport::TestHome;

TEST(ConstantsTest, SafeEnvironmentKeepsOnlyAllowlistPlusWineSettings) {
    TestHome home;
    setenv("PATH", "/usr/bin:/bin", 1);
    setenv("USER", "tester", 1);
    setenv("LANG", "de_DE.UTF-8", 1);
    setenv("LC_ALL", "C", 1);
    setenv("WINEPREFIX", "/elsewhere", 1);
    setenv("WINEDEBUG", "+all", 1);
    setenv("SECRET_TOKEN", "x", 1);
    unsetenv("TMPDIR");

    const std::string prefix = home.home() + "/my prefix";
    auto env = Constants::buildSafeEnvironment(prefix);
    std::map<std::string, std::string> want = {
        {"HOME", home.home()},
        {"USER", "tester"},
        {"PATH", "/usr/bin:/bin"},
        {"LANG", "de_DE.UTF-8"},
        {"WINEPREFIX", prefix},
        {"GALLIUM_DRIVER", "zink"},
        {"MESA_GL_VERSION_OVERRIDE", "4.5"},
        {"MESA_GLSL_VERSION_OVERRIDE", "450"},
        {"mesa_glthread", "true"},
        {"MVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS", "0"},
        {"MVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS", "0"},
        {"MVK_CONFIG_LOG_LEVEL", "0"},
        {"WINEESYNC", "1"},
        {"WINEDEBUG", "-all"},
    };
    EXPECT_EQ(env, want);
}

TEST(ConstantsTest, SafeEnvironmentKeepsEmptyValuesButNotMissingOnes) {
    TestHome home;
    setenv("TMPDIR", "", 1);
    unsetenv("USER");
    auto env = Constants::buildSafeEnvironment("/p");
    ASSERT_TRUE(env.count("TMPDIR"));
    EXPECT_EQ(env["TMPDIR"], "");
    EXPECT_FALSE(env.count("USER"));
    EXPECT_LE(env.size(), 15u);
}

TEST(ConstantsTest, PathsAreDerivedFromHome) {
    TestHome home;
    const std::string support = home.supportDir();
    struct Case {
        const std::string& got;
        std::string want;
    } cases[] = {
        {Constants::supportDir(), support},
        {Constants::wineDir(), support + "/wine"},
        {Constants::wineBin(), support + "/wine/bin/wine"},
        {Constants::wineserver(), support + "/wine/bin/wineserver"},
        {Constants::prefixPath(), support + "/prefix"},
        {Constants::eulaAcceptedFile(), support + "/eula-accepted"},
        {Constants::stateFile(), support + "/state.json"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
    // Reading the constants creates nothing.
    EXPECT_FALSE(fs::exists(support));
    // Fixed for the life of the process, whatever HOME does later.
    setenv("HOME", "/elsewhere", 1);
    EXPECT_EQ(Constants::prefixPath(), support + "/prefix");
}

TEST(ConstantsTest, LiteralsAreExact) {
    EXPECT_EQ(std::string(Constants::steamExePath).size(), 38u);
    EXPECT_EQ(Constants::wineDownloadSHA256().size(), 64u);
    auto endsWith = [](const std::string& s, const std::string& tail) {
        return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    };
    EXPECT_TRUE(endsWith(Constants::wineDownloadURL(), "/downloads/wine-staging-11.4-osx64.tar.xz"));
    EXPECT_TRUE(endsWith(Constants::eulaURL(), "/eula"));
    EXPECT_TRUE(endsWith(Constants::privacyURL(), "/privacy"));
    EXPECT_TRUE(endsWith(Constants::steamDownloadURL(), "/about/"));
    EXPECT_EQ(Constants::eulaURL().rfind("https://", 0), 0u);
    EXPECT_EQ(Constants::wineEnvVars().size(), 9u);
}

struct MigrationCase {
    const char* name;
    bool legacy;
    bool current;
    bool wantLegacyAfter;
    const char* wantMarkerIn;  // "current", "legacy" or nullptr
};

class MigrationTest : public ::testing::TestWithParam<MigrationCase> {};

TEST_P(MigrationTest, MovesLegacyOnlyWhenCurrentIsAbsent) {
    const auto& c = GetParam();
    TestHome home;
    const std::string base = home.home() + "/Library/Application Support";
    const std::string legacy = base + "/QuillmoorLauncher";
    const std::string current = base + "/Ferrowick";
    if (c.legacy) testsupport::writeFile(legacy + "/prefix/drive_c/marker", "legacy");
    if (c.current) testsupport::writeFile(current + "/other", "current");

    // Two threads racing on first use must agree and move at most once.
    std::string a, b;
    std::thread t1([&] { a = Constants::eulaAcceptedFile(); });
    std::thread t2([&] { b = Constants::prefixPath(); });
    t1.join();
    t2.join();
    EXPECT_EQ(a, current + "/eula-accepted");
    EXPECT_EQ(b, current + "/prefix");
    EXPECT_EQ(fs::exists(legacy), c.wantLegacyAfter);
    if (c.wantMarkerIn && std::string(c.wantMarkerIn) == "current") {
        EXPECT_EQ(testsupport::readFile(Constants::prefixPath() + "/drive_c/marker"), "legacy");
    }
    if (!c.legacy && !c.current) {
        EXPECT_FALSE(fs::exists(current));
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, MigrationTest,
                         ::testing::Values(MigrationCase{"OnlyLegacy", true, false, false, "current"},
                                           MigrationCase{"Both", true, true, true, "legacy"},
                                           MigrationCase{"Neither", false, false, false, nullptr},
                                           MigrationCase{"OnlyCurrent", false, true, false, nullptr}),
                         [](const auto& info) { return info.param.name; });

TEST(ConstantsTest, FailedMigrationLeavesLegacyInPlace) {
    TestHome home;
    const std::string base = home.home() + "/Library/Application Support";
    testsupport::writeFile(base + "/QuillmoorLauncher/launcher.log", "old");
    // A dangling symlink at the current name counts as "something exists".
    fs::create_symlink(home.root() + "/nowhere", base + "/Ferrowick");
    EXPECT_EQ(Constants::supportDir(), base + "/Ferrowick");
    EXPECT_EQ(testsupport::readFile(base + "/QuillmoorLauncher/launcher.log"), "old");
}
