// Graphics DLL deployment against the fake Wine runtime and real copies of the
// built bundle's DLLs.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "runtime/RuntimeValidator.h"
#include "support/FakeWine.h"
#include "support/GraphicsBundle.h"
#include "support/TestHome.h"
#include "wine/Constants.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::FakeWine;
using testsupport::GraphicsBundle;
using testsupport::readFile;
using testsupport::TestHome;
using testsupport::writeFile;

namespace {

const std::string kInstalling = "Installing components...";
const std::string kConfiguring = "Configuring environment...";
const std::string kMissing = "A required component is missing.\nPlease reinstall Ferrowick.";
const std::string kCopyFailed = "Failed to install a required component.";

const std::vector<std::vector<std::string>> kRegistryCommands = {
    {"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides", "/v", "opengl32", "/d", "native", "/f"},
    {"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides", "/v", "libgallium_wgl", "/d", "native", "/f"},
    {"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0",
     "/f"},
    {"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\WineDbg", "/v", "BreakOnFirstChance", "/t", "REG_DWORD", "/d",
     "0", "/f"},
    {"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\Quillmoor.exe", "/v", "Version", "/d", "winxp",
     "/f"},
};

// A prefix with both system directories and an empty registry, created by the
// fake wineboot, with the bundle staged beside it. The support paths are fixed
// once per process, so cases within a test share one fixture and reset() it.
struct DeployFixture {
    TestHome home;
    FakeWine wine;
    GraphicsBundle bundle{home.bundle()};
    PrefixManager manager;
    std::vector<std::string> status;
    size_t callsBefore = 0;

    DeployFixture() { reset(); }

    void reset() {
        for (const char* key : {"reg.exit", "reg.signal"}) wine.unset(key);
        fs::remove_all(manager.prefixPath());
        fs::remove_all(home.bundle());
        fs::create_directories(home.bundle());
        bundle = GraphicsBundle(home.bundle());
        EXPECT_TRUE(manager.createPrefix({}));
        EXPECT_TRUE(fs::is_directory(manager.prefixPath() + Constants::syswow64));
        callsBefore = wine.calls("wine").size();
    }

    bool deploy() {
        status.clear();
        return manager.deployMesaDLLs([this](const std::string& line) { status.push_back(line); });
    }
    std::string deployed(size_t i) const {
        return RuntimeValidator::deployedPath(manager.prefixPath(), bundle.manifest().artifacts[i]);
    }
    std::string source(size_t i) const { return bundle.fileOf(bundle.manifest().artifacts[i]); }
    std::vector<std::vector<std::string>> regCalls() const {
        std::vector<std::vector<std::string>> out;
        const auto calls = wine.calls("wine");
        for (size_t i = callsBefore; i < calls.size(); ++i)
            if (!calls[i].args.empty() && calls[i].args[0] == "reg") out.push_back(calls[i].args);
        return out;
    }
    // user.reg with the key headers' time stamps removed.
    std::string registry() const {
        static const std::regex stamp(R"((\n\[[^\n]*\]) \d+)");
        return std::regex_replace(readFile(manager.prefixPath() + "/user.reg"), stamp, "$1");
    }
};

}  // namespace

TEST(PrefixManagerDeployTest, DeploysEverythingAndDetectsAnyLaterChange) {
    DeployFixture f;
    ASSERT_FALSE(f.manager.mesaDLLsDeployed());
    ASSERT_TRUE(f.deploy());
    EXPECT_EQ(f.status, (std::vector<std::string>{kInstalling, kConfiguring}));
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(readFile(f.deployed(i)), readFile(f.source(i))) << f.deployed(i);
    EXPECT_EQ(f.regCalls(), kRegistryCommands);

    const std::string reg = f.registry();
    for (const char* line : {"[Software\\\\Wine\\\\DllOverrides]\n", "\"opengl32\"=\"native\"\n",
                             "\"libgallium_wgl\"=\"native\"\n", "[Software\\\\Wine\\\\WineDbg]\n",
                             "\"ShowCrashDialog\"=dword:00000000\n", "\"BreakOnFirstChance\"=dword:00000000\n",
                             "[Software\\\\Wine\\\\AppDefaults\\\\Quillmoor.exe]\n", "\"Version\"=\"winxp\"\n"}) {
        EXPECT_NE(reg.find(line), std::string::npos) << line << " in\n" << reg;
    }
    EXPECT_TRUE(f.manager.mesaDLLsDeployed());

    // Any one deployed copy changed or gone makes the whole set stale.
    for (size_t i = 0; i < 6; ++i) {
        const std::string original = readFile(f.deployed(i));
        writeFile(f.deployed(i), original + "x");
        EXPECT_FALSE(f.manager.mesaDLLsDeployed()) << "changed " << f.deployed(i);
        fs::remove(f.deployed(i));
        EXPECT_FALSE(f.manager.mesaDLLsDeployed()) << "removed " << f.deployed(i);
        writeFile(f.deployed(i), original);
        EXPECT_TRUE(f.manager.mesaDLLsDeployed()) << "restored " << f.deployed(i);
    }
}

TEST(PrefixManagerDeployTest, ReplacesOutdatedCopiesAndRepeatsIdentically) {
    DeployFixture f;
    for (size_t i = 0; i < 6; ++i) writeFile(f.deployed(i), "outdated build " + std::to_string(i));
    ASSERT_TRUE(f.deploy());
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(readFile(f.deployed(i)), readFile(f.source(i)));
    const std::string firstRegistry = f.registry();

    ASSERT_TRUE(f.deploy());
    EXPECT_EQ(f.status, (std::vector<std::string>{kInstalling, kConfiguring}));
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(readFile(f.deployed(i)), readFile(f.source(i)));
    EXPECT_EQ(f.registry(), firstRegistry);
    EXPECT_EQ(f.regCalls().size(), 2 * kRegistryCommands.size());  // both runs wrote every value
}

TEST(PrefixManagerDeployTest, StopsAtTheFirstFaultWithoutTouchingTheRegistry) {
    struct Case {
        const char* name;
        std::function<void(DeployFixture&)> damage;
        std::string lastStatus;
        std::vector<bool> copied;  // per manifest artifact: matches the bundle afterwards
    };
    const Case cases[] = {
        {"libz-1.dll missing from mesa-i686 only",
         [](DeployFixture& f) { fs::remove(f.source(5)); },
         kMissing,
         {true, true, true, true, true, false}},
        {"opengl32.dll missing from mesa-x86_64",
         [](DeployFixture& f) { fs::remove(f.source(0)); },
         kMissing,
         {false, false, false, false, false, false}},
        {"prefix without syswow64",
         [](DeployFixture& f) { fs::remove_all(f.manager.prefixPath() + Constants::syswow64); },
         kCopyFailed,
         {true, true, true, false, false, false}},
        {"a directory where a 64-bit DLL goes",
         [](DeployFixture& f) { fs::create_directories(f.deployed(1) + "/occupied"); },
         kCopyFailed,
         {true, false, false, false, false, false}},
        {"no prefix at all",
         [](DeployFixture& f) { fs::remove_all(f.manager.prefixPath()); },
         kCopyFailed,
         {false, false, false, false, false, false}},
    };
    DeployFixture f;
    for (const auto& c : cases) {
        f.reset();
        c.damage(f);
        EXPECT_FALSE(f.deploy()) << c.name;
        EXPECT_EQ(f.status, (std::vector<std::string>{kInstalling, c.lastStatus})) << c.name;
        EXPECT_TRUE(f.regCalls().empty()) << c.name;
        for (size_t i = 0; i < 6; ++i) {
            const bool matches = fs::is_regular_file(f.deployed(i)) && fs::is_regular_file(f.source(i)) &&
                                 readFile(f.deployed(i)) == readFile(f.source(i));
            EXPECT_EQ(matches, c.copied[i]) << c.name << ": " << f.deployed(i);
        }
        EXPECT_FALSE(f.manager.mesaDLLsDeployed()) << c.name;
    }
}

TEST(PrefixManagerDeployTest, ResultRestsOnTheManifestComparisonAlone) {
    struct Case {
        const char* name;
        std::function<void(DeployFixture&)> setup;
        bool result;
    };
    const Case cases[] = {
        {"every reg command fails", [](DeployFixture& f) { f.wine.set("reg.exit", 1); }, true},
        {"reg dies by a signal", [](DeployFixture& f) { f.wine.set("reg.signal", 9); }, true},
        {"no manifest", [](DeployFixture& f) { fs::remove(f.home.bundle() + "/runtime.lock"); }, false},
        {"bundled DLL differs from the manifest", [](DeployFixture& f) { writeFile(f.source(3), "tampered"); }, false},
        {"upper-case digest in the manifest",
         [](DeployFixture& f) {
             RuntimeManifest m = f.bundle.manifest();
             for (char& ch : m.artifacts[2].sha256)
                 ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
             f.bundle.writeManifest(m);
         },
         false},
    };
    DeployFixture f;
    for (const auto& c : cases) {
        f.reset();
        c.setup(f);
        EXPECT_EQ(f.deploy(), c.result) << c.name;
        EXPECT_EQ(f.status, (std::vector<std::string>{kInstalling, kConfiguring})) << c.name;
        EXPECT_EQ(f.regCalls(), kRegistryCommands) << c.name;
        for (size_t i = 0; i < 6; ++i) EXPECT_EQ(readFile(f.deployed(i)), readFile(f.source(i))) << c.name;
        EXPECT_EQ(f.manager.mesaDLLsDeployed(), c.result) << c.name;
    }
}
