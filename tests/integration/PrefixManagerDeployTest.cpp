// Graphics DLL deployment against the fake Wine runtime and real copies of the
// built bundle's DLLs.
#include <gtest/gtest.h>

#include <filesystem>

#include "logging/Logger.h"
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

TEST(PrefixManagerDeployTest, CopiesWritesTheRegistryAndDetectsAnyLaterChange) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    PrefixManager manager;
    const auto artifacts = testsupport::GraphicsBundle(home.bundle()).manifest().artifacts;
    const auto source = [&](size_t i) { return home.bundle() + "/" + artifacts[i].path; };
    const auto deployed = [&](size_t i) { return RuntimeValidator::deployedPath(manager.prefixPath(), artifacts[i]); };
    // How many DLLs, in manifest order, were copied before the first that was not.
    const auto copied = [&] {
        size_t n = 0;
        while (n < 6 && fs::is_regular_file(deployed(n)) && readFile(deployed(n)) == readFile(source(n))) ++n;
        return n;
    };
    const std::string key = "HKEY_CURRENT_USER\\Software\\Wine\\", configuring = "Configuring environment...";
    const std::vector<Lines> registry = {
        {"reg", "add", key + "DllOverrides", "/v", "opengl32", "/d", "native", "/f"},
        {"reg", "add", key + "DllOverrides", "/v", "libgallium_wgl", "/d", "native", "/f"},
        {"reg", "add", key + "WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f"},
        {"reg", "add", key + "WineDbg", "/v", "BreakOnFirstChance", "/t", "REG_DWORD", "/d", "0", "/f"},
        {"reg", "add", key + "AppDefaults\\Quillmoor.exe", "/v", "Version", "/d", "winxp", "/f"},
    };
    struct Case {
        const char* name;
        std::function<void()> damage;
        std::string lastStatus;  // a fault stops before the registry is written
        size_t copied;
        bool result;
    };
    const Case cases[] = {
        {"an outdated copy", [&] { writeFile(deployed(2), "old"); }, configuring, 6, true},
        {"libz-1.dll missing from mesa-i686 only", [&] { fs::remove(source(5)); },
         "A required component is missing.\nPlease reinstall Ferrowick.", 5, false},
        {"prefix without syswow64", [&] { fs::remove_all(manager.prefixPath() + Constants::syswow64); },
         "Failed to install a required component.", 3, false},
        {"every reg command fails", [&] { wine.set("reg.exit", 1); }, configuring, 6, true},
    };
    for (const auto& c : cases) {
        wine.configure({});
        fs::remove_all(manager.prefixPath());
        testsupport::GraphicsBundle restaged(home.bundle());
        ASSERT_TRUE(manager.createPrefix({}));
        c.damage();
        Lines status;
        const size_t callsBefore = wine.calls("wine").size();
        EXPECT_EQ(manager.deployMesaDLLs([&](const std::string& line) { status.push_back(line); }), c.result) << c.name;
        EXPECT_EQ(status, (Lines{"Installing components...", c.lastStatus})) << c.name;
        const auto calls = wine.calls("wine");
        ASSERT_EQ(calls.size() - callsBefore, c.lastStatus == configuring ? registry.size() : 0u) << c.name;
        for (size_t i = callsBefore; i < calls.size(); ++i) EXPECT_EQ(calls[i].args, registry[i - callsBefore]);
        EXPECT_EQ(copied(), c.copied) << c.name;
        EXPECT_EQ(manager.mesaDLLsDeployed(), c.result) << c.name;
    }
    // Any one deployed copy changed makes the whole set stale.
    for (size_t i = 0; i < 6; ++i) {
        const std::string original = readFile(deployed(i));
        writeFile(deployed(i), original + "x");
        EXPECT_FALSE(manager.mesaDLLsDeployed()) << deployed(i);
        writeFile(deployed(i), original);
    }
    EXPECT_TRUE(manager.mesaDLLsDeployed());

    // The values reach the prefix's user.reg, where the registry report finds the overrides.
    wine.configure({});
    ASSERT_TRUE(manager.deployMesaDLLs({}));
    EXPECT_EQ(Logger::registryOverrideLines(readFile(manager.prefixPath() + "/user.reg")),
              (Lines{"  Override: \"opengl32\"=\"native\"", "  Override: \"libgallium_wgl\"=\"native\""}));
}
