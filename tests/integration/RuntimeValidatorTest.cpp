#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/Sha256.h"
#include "runtime/RuntimeValidator.h"
#include "support/GraphicsBundle.h"
#include "support/TestHome.h"

namespace fs = std::filesystem;
using testsupport::writeFile;

TEST(RuntimeValidatorTest, DigestsAndTheBundleCheckGiveTheFirstFault) {
    testsupport::TestHome home;
    // shasum marks the digest of a name it escapes with "\". Digests are lower-case hex, the launcher's
    // own (of downloads) too.
    const std::string odd = home.root() + "/back\\slash\nbreak \xC3\xBC.dll";
    const std::string bad = "2f05d4b689d270cafb02285f35f44866f7dc8a2d368a3f9d1124373eeab31fb1";
    writeFile(odd, "bad");
    EXPECT_EQ(RuntimeValidator::sha256(odd), bad);
    EXPECT_EQ(platform::Sha256::hex("bad"), bad);
    EXPECT_EQ(RuntimeValidator::sha256(home.root()), std::nullopt) << "a directory";

    const std::string lock = home.bundle() + "/runtime.lock";
    const auto a = testsupport::GraphicsBundle(home.bundle()).manifest().artifacts;  // a copy outlives the bundle
    const auto bundled = [&](int i) { return home.bundle() + "/" + a[i].path; };
    for (const auto& [damage, fault] : std::vector<std::pair<std::function<void()>, std::optional<std::string>>>{
             {[] {}, std::nullopt},
             {[&] { fs::remove(lock); }, "runtime.lock manifest missing from app bundle"},
             {[&] { fs::remove(bundled(5)); }, "Missing bundled DLL: " + a[5].path},
             {[&] { writeFile(bundled(2), "bad"), fs::remove(bundled(5)); },  // the first fault wins
              "Bundled DLL corrupted: " + a[2].path + "\nExpected: " + a[2].sha256 + "\nGot: " + bad},
             {[&] { fs::remove(lock), fs::create_symlink("/proc/self/mem", lock); },  // last: every read fails
              "runtime.lock manifest missing from app bundle"}}) {
        testsupport::GraphicsBundle restaged(home.bundle());
        damage();
        EXPECT_EQ(RuntimeValidator::validateBundledDLLs(), fault) << fault.value_or("intact");
    }
}
