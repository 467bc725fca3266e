#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/Sha256.h"
#include "runtime/RuntimeValidator.h"
#include "support/GraphicsBundle.h"
#include "support/TestHome.h"

namespace fs = std::filesystem;
using testsupport::writeFile;

TEST(RuntimeValidatorTest, DiskSpaceAndDigestsOfAwkwardPaths) {
    testsupport::TestHome home;
    const std::string nested = home.supportDir() + "/deep/er";
    const auto freeGB = static_cast<int64_t>(fs::space(home.root()).available >> 30);
    EXPECT_TRUE(RuntimeValidator::checkDiskSpace(nested, freeGB / 2));
    EXPECT_TRUE(fs::is_directory(nested)) << "created first";
    EXPECT_FALSE(RuntimeValidator::checkDiskSpace(nested, freeGB + 1));
    writeFile(home.root() + "/plain", "x");
    EXPECT_FALSE(RuntimeValidator::checkDiskSpace(home.root() + "/plain/sub", 0)) << "through a regular file";
    // shasum marks a digest with "\" when it escapes the file name.
    for (const std::string name : {"blank \xC3\xBC.dll", "back\\slash.dll", "line\nbreak.dll"}) {
        writeFile(home.root() + "/" + name, name);
        EXPECT_EQ(RuntimeValidator::sha256(home.root() + "/" + name), platform::Sha256::hex(name)) << name;
    }
    EXPECT_EQ(RuntimeValidator::sha256(home.root()), std::nullopt) << "a directory";
}

TEST(RuntimeValidatorTest, BundleCheckGivesTheFirstFaultAndStaleCopiesKeepManifestOrder) {
    testsupport::TestHome home;
    const std::string prefix = home.supportDir() + "/prefix", lock = home.bundle() + "/runtime.lock";
    const auto a =
        testsupport::GraphicsBundle(home.bundle()).manifest().artifacts;  // a copy outlives the bundle object
    ASSERT_EQ(a.size(), 6u);
    const auto bundled = [&](int i) { return home.bundle() + "/" + a[i].path; };
    const auto deployed = [&](int i) {
        return prefix + "/drive_c/windows/" + (a[i].arch == "x86_64" ? "system32/" : "syswow64/") +
               fs::path(a[i].path).filename().string();
    };
    const struct {
        const char* name;
        std::function<void()> damage;
        std::optional<std::string> fault;
        std::optional<std::string> stale;  // indices in manifest order; nothing: no answer
    } cases[] = {
        {"intact", [] {}, {}, ""},
        {"no runtime.lock", [&] { fs::remove(lock); }, RuntimeValidator::kManifestMissing, {}},
        {"one missing", [&] { fs::remove(bundled(5)); }, "Missing bundled DLL: " + a[5].path, ""},
        {"one corrupted, a later one missing", [&] { writeFile(bundled(2), "bad"), fs::remove(bundled(5)); },
         "Bundled DLL corrupted: " + a[2].path + "\nExpected: " + a[2].sha256 +
             "\nGot: " + platform::Sha256::hex("bad"),
         ""},
        {"copies changed and missing", [&] { writeFile(deployed(4), "old"), fs::remove(deployed(1)); }, {}, "14"},
        {"nothing deployed", [&] { fs::remove_all(prefix); }, {}, "012345"},
    };
    for (const auto& c : cases) {
        fs::remove_all(lock);
        testsupport::GraphicsBundle restaged(home.bundle());
        for (int i = 0; i < 6; ++i) writeFile(deployed(i), testsupport::readFile(bundled(i)));
        c.damage();
        EXPECT_EQ(RuntimeValidator::validateBundledDLLs(), c.fault) << c.name;
        std::optional<std::string> stale;
        if (auto list = RuntimeValidator::staleDeployedDLLs(prefix)) {
            stale.emplace();
            for (const auto& e : *list)
                for (int i = 0; i < 6; ++i) stale->append(a[i].path == e.path ? std::to_string(i) : "");
        }
        EXPECT_EQ(stale, c.stale) << c.name;
    }
}
