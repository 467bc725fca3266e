// Graphics DLL deployment against the fake Wine runtime and real copies of the built bundle's DLLs.
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
    const auto deployed = [&](size_t i) { return RuntimeValidator::deployedPath(manager.prefixPath(), artifacts[i]); };
    const auto copied = [&] {  // how many DLLs, in manifest order, were copied before the first that was not
        size_t n = 0;
        while (n < 6 && fs::is_regular_file(deployed(n)) &&
               readFile(deployed(n)) == readFile(home.bundle() + "/" + artifacts[n].path))
            ++n;
        return n;
    };
    const std::string configuring = "Configuring environment...";
    // name, damage, last status (a fault stops before the registry is written), DLLs copied, result
    const std::tuple<const char*, std::function<void()>, std::string, size_t, bool> cases[] = {
        {"an outdated copy", [&] { writeFile(deployed(2), "old"); }, configuring, 6, true},
        {"libz-1.dll missing from mesa-i686 only", [&] { fs::remove(home.bundle() + "/" + artifacts[5].path); },
         "A required component is missing.\nPlease reinstall Ferrowick.", 5, false},
        {"prefix without syswow64", [&] { fs::remove_all(manager.prefixPath() + "/drive_c/windows/syswow64"); },
         "Failed to install a required component.", 3, false},
        {"every reg command fails", [&] { wine.set("reg.exit", 1); }, configuring, 6, true},
    };
    for (const auto& [name, damage, lastStatus, copies, result] : cases) {
        wine.configure({});
        fs::remove_all(manager.prefixPath());
        testsupport::GraphicsBundle restaged(home.bundle());
        ASSERT_TRUE(manager.createPrefix({}));
        damage();
        Lines status;
        const size_t callsBefore = wine.calls("wine").size();
        EXPECT_EQ(manager.deployMesaDLLs([&](const std::string& line) { status.push_back(line); }), result) << name;
        EXPECT_EQ(status, (Lines{"Installing components...", lastStatus})) << name;
        EXPECT_EQ(wine.calls("wine").size() - callsBefore, lastStatus == configuring ? 5u : 0u) << name;
        EXPECT_EQ(copied(), copies) << name;
        EXPECT_EQ(manager.mesaDLLsDeployed(), result) << name;
    }
    for (size_t i = 0; i < 6; ++i) {  // any one deployed copy changed makes the whole set stale
        const std::string original = readFile(deployed(i));
        writeFile(deployed(i), original + "x");
        EXPECT_FALSE(manager.mesaDLLsDeployed()) << deployed(i);
        writeFile(deployed(i), original);
    }
    // The values reach the prefix's user.reg, where the registry report finds the overrides.
    wine.configure({});
    ASSERT_TRUE(manager.deployMesaDLLs({}) && manager.mesaDLLsDeployed());
    EXPECT_EQ(Logger::registryOverrideLines(readFile(manager.prefixPath() + "/user.reg")),
              (Lines{"  Override: \"opengl32\"=\"native\"", "  Override: \"libgallium_wgl\"=\"native\""}));
}
