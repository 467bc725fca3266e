// PrefixManager's backup, restore and delete on real directory trees.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "support/TestHome.h"
#include "support/Undeletable.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

struct PrefixManagerFilesTest : testing::Test {
    testsupport::TestHome home;
    const std::string prefix = home.root() + "/Application Support/pre fix \xC3\xBC";
    PrefixManager manager{prefix};
};

}  // namespace

// Only a path of a backup's form is ever removed; a backup never replaces an earlier (even empty) one.
TEST_F(PrefixManagerFilesTest, BackupAndDelete) {
    writeFile(prefix + "/system.reg", "old registry");
    const auto backup = manager.backupPrefix();
    ASSERT_TRUE(backup && !fs::exists(prefix));
    writeFile(prefix + "/system.reg", "rebuilt");
    manager.deleteBackup(*backup);
    EXPECT_FALSE(fs::exists(*backup));
    const std::string other = home.root() + "/other";
    writeFile(other + "/file", "keep");
    writeFile(prefix + ".backup.12x/file", "keep");
    for (const std::string& path : {prefix, std::string(), other, prefix + ".backup.", prefix + ".backup.12x"})
        manager.deleteBackup(path);
    EXPECT_EQ(readFile(prefix + "/system.reg") + readFile(other + "/file") + readFile(prefix + ".backup.12x/file"),
              "rebuiltkeepkeep");
    // Every name a backup may take in the next seconds is an empty backup, which rename() would replace.
    const auto now = std::chrono::system_clock::now().time_since_epoch() / std::chrono::seconds(1);
    for (auto s = now; s < now + 10; ++s) fs::create_directories(prefix + ".backup." + std::to_string(s));
    EXPECT_FALSE(manager.backupPrefix().has_value());
    EXPECT_EQ(readFile(prefix + "/system.reg"), "rebuilt");
}

TEST_F(PrefixManagerFilesTest, RestoreNeverLosesTheBackupOrAPrefixForNothing) {
    writeFile(prefix + "/system.reg", "good");
    const auto backup = manager.backupPrefix();
    ASSERT_TRUE(backup.has_value());
    writeFile(prefix + "/stuck/file", "broken");
    {
        // The failed prefix cannot be removed completely: false, and both stay.
        testsupport::Undeletable pin(prefix + "/stuck/file");
        if (!pin.active()) GTEST_SKIP() << "this file system cannot pin a file";
        EXPECT_FALSE(manager.restoreBackup(*backup));
        EXPECT_EQ(readFile(*backup + "/system.reg"), "good");
    }
    for (const std::string& missing : {prefix + ".backup.1", prefix}) {  // nothing to put back: the prefix stays
        EXPECT_FALSE(manager.restoreBackup(missing));
        EXPECT_EQ(readFile(prefix + "/stuck/file"), "broken") << missing;
    }
    EXPECT_TRUE(manager.restoreBackup(*backup));
    EXPECT_EQ(readFile(prefix + "/system.reg"), "good");
    EXPECT_FALSE(fs::exists(prefix + "/stuck") || fs::exists(*backup));
}

// The prefix may itself be a link to where it lives; links below it count as links.
TEST_F(PrefixManagerFilesTest, SizeFollowsThePrefixLinkOnly) {
    const std::string real = home.root() + "/real prefix", outside = home.root() + "/outside.bin";
    writeFile(real + "/user.reg", "12345");
    writeFile(outside, std::string(1000, 'x'));
    fs::create_directories(fs::path(prefix).parent_path());
    fs::create_directory_symlink(real, prefix);
    fs::create_symlink(outside, real + "/link");
    EXPECT_EQ(manager.prefixSizeBytes(), 5 + static_cast<int64_t>(outside.size()));
}
