#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/Sha256.h"
#include "runtime/RuntimeValidator.h"
#include "support/GraphicsBundle.h"
#include "support/TestHome.h"

namespace fs = std::filesystem;
using testsupport::writeFile;

TEST(RuntimeValidatorTest, DigestsOfAwkwardPaths) {
    testsupport::TestHome home;
    // shasum marks a digest with "\" when it escapes the file name. Its lower-case hex is also what the
    // launcher's own digest must give, as the runtime's expected one is written.
    for (const std::string name : {"blank \xC3\xBC.dll", "back\\slash.dll", "line\nbreak.dll"}) {
        writeFile(home.root() + "/" + name, name);
        EXPECT_EQ(RuntimeValidator::sha256(home.root() + "/" + name), platform::Sha256::hex(name)) << name;
    }
    EXPECT_EQ(RuntimeValidator::sha256(home.root()), std::nullopt) << "a directory";
}

TEST(RuntimeValidatorTest, BundleCheckGivesTheFirstFault) {
    testsupport::TestHome home;
    const std::string lock = home.bundle() + "/runtime.lock";
    const auto a = testsupport::GraphicsBundle(home.bundle()).manifest().artifacts;  // a copy outlives the bundle
    ASSERT_EQ(a.size(), 6u);
    const auto bundled = [&](int i) { return home.bundle() + "/" + a[i].path; };
    for (const auto& [damage, fault] : std::vector<std::pair<std::function<void()>, std::optional<std::string>>>{
             {[] {}, std::nullopt},
             {[&] { fs::remove(lock); }, "runtime.lock manifest missing from app bundle"},
             {[&] { fs::remove(bundled(5)); }, "Missing bundled DLL: " + a[5].path},
             {[&] { writeFile(bundled(2), "bad"), fs::remove(bundled(5)); },  // the first fault wins
              "Bundled DLL corrupted: " + a[2].path + "\nExpected: " + a[2].sha256 +
                  "\nGot: " + platform::Sha256::hex("bad")}}) {
        fs::remove_all(lock);
        testsupport::GraphicsBundle restaged(home.bundle());
        damage();
        EXPECT_EQ(RuntimeValidator::validateBundledDLLs(), fault) << fault.value_or("intact");
    }
}
