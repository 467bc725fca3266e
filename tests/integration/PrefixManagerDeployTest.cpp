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
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string kInstalling = "Installing components...";
const std::string kConfiguring = "Configuring environment...";
const std::string kMissing = "A required component is missing.\nPlease reinstall Ferrowick.";
const std::string kCopyFailed = "Failed to install a required component.";
const std::string kKey = "HKEY_CURRENT_USER\\Software\\Wine\\";
const std::vector<std::vector<std::string>> kRegistryCommands = {
    {"reg", "add", kKey + "DllOverrides", "/v", "opengl32", "/d", "native", "/f"},
    {"reg", "add", kKey + "DllOverrides", "/v", "libgallium_wgl", "/d", "native", "/f"},
    {"reg", "add", kKey + "WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f"},
    {"reg", "add", kKey + "WineDbg", "/v", "BreakOnFirstChance", "/t", "REG_DWORD", "/d", "0", "/f"},
    {"reg", "add", kKey + "AppDefaults\\Quillmoor.exe", "/v", "Version", "/d", "winxp", "/f"},
};

// A prefix made by the fake wineboot, with the bundle staged beside it. The
// support paths are fixed once per process, so cases share one fixture and
// reset() it.
struct DeployFixture {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    testsupport::GraphicsBundle bundle{home.bundle()};
    PrefixManager manager;
    std::vector<std::string> status;
    size_t callsBefore = 0;

    void reset() {
        wine.configure({});
        fs::remove_all(manager.prefixPath());
        fs::remove_all(home.bundle());
        fs::create_directories(home.bundle());
        bundle = testsupport::GraphicsBundle(home.bundle());
        EXPECT_TRUE(manager.createPrefix({}));
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
    // How many DLLs, in manifest order, were copied before the first that was not.
    size_t copied() const {
        size_t n = 0;
        while (n < 6 && fs::is_regular_file(deployed(n)) && fs::is_regular_file(source(n)) &&
               readFile(deployed(n)) == readFile(source(n)))
            ++n;
        return n;
    }
    std::vector<std::vector<std::string>> regCalls() const {
        std::vector<std::vector<std::string>> out;
        const auto calls = wine.calls("wine");
        for (size_t i = callsBefore; i < calls.size(); ++i) out.push_back(calls[i].args);
        return out;
    }
    // user.reg with the key headers' time stamps removed.
    std::string registry() const {
        static const std::regex stamp(R"((\n\[[^\n]*\]) \d+)");
        return std::regex_replace(readFile(manager.prefixPath() + "/user.reg"), stamp, "$1");
    }
};

}  // namespace

TEST(PrefixManagerDeployTest, ReplacesOutdatedCopiesRepeatsIdenticallyAndDetectsAnyLaterChange) {
    DeployFixture f;
    f.reset();
    for (size_t i = 0; i < 6; ++i) writeFile(f.deployed(i), "outdated build " + std::to_string(i));
    ASSERT_FALSE(f.manager.mesaDLLsDeployed());
    ASSERT_TRUE(f.deploy());
    EXPECT_EQ(f.status, (std::vector<std::string>{kInstalling, kConfiguring}));
    EXPECT_EQ(f.copied(), 6u);
    EXPECT_EQ(f.regCalls(), kRegistryCommands);
    EXPECT_EQ(f.registry().substr(f.registry().find("\n[")),
              "\n[Software\\\\Wine\\\\DllOverrides]\n#time=1d0000000000000\n\"opengl32\"=\"native\"\n"
              "\"libgallium_wgl\"=\"native\"\n\n[Software\\\\Wine\\\\WineDbg]\n#time=1d0000000000000\n"
              "\"ShowCrashDialog\"=dword:00000000\n\"BreakOnFirstChance\"=dword:00000000\n\n"
              "[Software\\\\Wine\\\\AppDefaults\\\\Quillmoor.exe]\n#time=1d0000000000000\n\"Version\"=\"winxp\"\n");
    const std::string firstRegistry = f.registry();
    ASSERT_TRUE(f.deploy());
    EXPECT_EQ(f.copied(), 6u);
    EXPECT_EQ(f.registry(), firstRegistry);

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

TEST(PrefixManagerDeployTest, FaultsAndWhatTheResultRestsOn) {
    struct Case {
        const char* name;
        std::function<void(DeployFixture&)> damage;
        std::string lastStatus;  // a fault stops before the registry is written
        size_t copied;
        bool result;
    };
    const Case cases[] = {
        {"libz-1.dll missing from mesa-i686 only", [](auto& f) { fs::remove(f.source(5)); }, kMissing, 5, false},
        {"opengl32.dll missing from mesa-x86_64", [](auto& f) { fs::remove(f.source(0)); }, kMissing, 0, false},
        {"prefix without syswow64", [](auto& f) { fs::remove_all(f.manager.prefixPath() + Constants::syswow64); },
         kCopyFailed, 3, false},
        {"a directory where a 64-bit DLL goes", [](auto& f) { fs::create_directories(f.deployed(1) + "/occupied"); },
         kCopyFailed, 1, false},
        {"no prefix at all", [](auto& f) { fs::remove_all(f.manager.prefixPath()); }, kCopyFailed, 0, false},
        {"every reg command fails", [](auto& f) { f.wine.set("reg.exit", 1); }, kConfiguring, 6, true},
        {"no manifest", [](auto& f) { fs::remove(f.home.bundle() + "/runtime.lock"); }, kConfiguring, 6, false},
        {"bundled DLL differs from the manifest", [](auto& f) { writeFile(f.source(3), "x"); }, kConfiguring, 6, false},
        {"upper-case digest in the manifest",
         [](auto& f) {
             RuntimeManifest m = f.bundle.manifest();
             for (char& ch : m.artifacts[2].sha256) ch = static_cast<char>(std::toupper(ch));
             f.bundle.writeManifest(m);
         },
         kConfiguring, 6, false},
    };
    DeployFixture f;
    for (const auto& c : cases) {
        f.reset();
        c.damage(f);
        EXPECT_EQ(f.deploy(), c.result) << c.name;
        EXPECT_EQ(f.status, (std::vector<std::string>{kInstalling, c.lastStatus})) << c.name;
        EXPECT_EQ(f.regCalls().size(), c.lastStatus == kConfiguring ? kRegistryCommands.size() : 0u) << c.name;
        EXPECT_EQ(f.copied(), c.copied) << c.name;
        EXPECT_EQ(f.manager.mesaDLLsDeployed(), c.result) << c.name;
    }
}
