// Graphics DLL deployment against the fake Wine runtime and real copies of the
// built bundle's DLLs.
#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/RuntimeValidator.h"
#include "support/FakeWine.h"
#include "support/GraphicsBundle.h"
#include "support/TestHome.h"
#include "wine/Constants.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

namespace {

const std::string kInstalling = "Installing components...", kConfiguring = "Configuring environment...";
const std::string kKey = "HKEY_CURRENT_USER\\Software\\Wine\\";
const std::vector<Lines> kRegistryCommands = {
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
    Lines status;
    std::vector<Lines> regCalls;

    void reset() {
        wine.configure({});
        fs::remove_all(manager.prefixPath());
        bundle = testsupport::GraphicsBundle(home.bundle());
        EXPECT_TRUE(manager.createPrefix({}));
    }
    bool deploy() {
        status.clear();
        const size_t before = wine.calls("wine").size();
        const bool ok = manager.deployMesaDLLs([this](const std::string& line) { status.push_back(line); });
        const auto calls = wine.calls("wine");
        regCalls.clear();
        for (size_t i = before; i < calls.size(); ++i) regCalls.push_back(calls[i].args);
        return ok;
    }
    std::string deployed(size_t i) const {
        return RuntimeValidator::deployedPath(manager.prefixPath(), bundle.manifest().artifacts[i]);
    }
    std::string source(size_t i) const { return bundle.fileOf(bundle.manifest().artifacts[i]); }
    // How many DLLs, in manifest order, were copied before the first that was not.
    size_t copied() const {
        size_t n = 0;
        while (n < 6 && fs::is_regular_file(deployed(n)) && readFile(deployed(n)) == readFile(source(n))) ++n;
        return n;
    }
};

}  // namespace

TEST(PrefixManagerDeployTest, ReplacesOutdatedCopiesAndDetectsAnyLaterChange) {
    DeployFixture f;
    f.reset();
    for (size_t i = 0; i < 6; ++i) writeFile(f.deployed(i), "outdated build " + std::to_string(i));
    ASSERT_FALSE(f.manager.mesaDLLsDeployed());
    ASSERT_TRUE(f.deploy());
    EXPECT_EQ(f.status, (Lines{kInstalling, kConfiguring}));
    EXPECT_EQ(f.copied(), 6u);
    EXPECT_EQ(f.regCalls, kRegistryCommands);
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

TEST(PrefixManagerDeployTest, Faults) {
    struct Case {
        const char* name;
        std::function<void(DeployFixture&)> damage;
        std::string lastStatus;  // a fault stops before the registry is written
        size_t copied;
        bool result;
    };
    const Case cases[] = {
        {"libz-1.dll missing from mesa-i686 only", [](auto& f) { fs::remove(f.source(5)); },
         "A required component is missing.\nPlease reinstall Ferrowick.", 5, false},
        {"prefix without syswow64", [](auto& f) { fs::remove_all(f.manager.prefixPath() + Constants::syswow64); },
         "Failed to install a required component.", 3, false},
        {"every reg command fails", [](auto& f) { f.wine.set("reg.exit", 1); }, kConfiguring, 6, true},
    };
    DeployFixture f;
    for (const auto& c : cases) {
        f.reset();
        c.damage(f);
        EXPECT_EQ(f.deploy(), c.result) << c.name;
        EXPECT_EQ(f.status, (Lines{kInstalling, c.lastStatus})) << c.name;
        EXPECT_EQ(f.regCalls.size(), c.lastStatus == kConfiguring ? kRegistryCommands.size() : 0u) << c.name;
        EXPECT_EQ(f.copied(), c.copied) << c.name;
        EXPECT_EQ(f.manager.mesaDLLsDeployed(), c.result) << c.name;
    }
}
