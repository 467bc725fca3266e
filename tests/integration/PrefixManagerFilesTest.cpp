// PrefixManager's inspection, backup, restore and size operations on real
// directory trees.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "platform/Subprocess.h"
#include "support/TestHome.h"
#include "support/Undeletable.h"
#include "wine/Constants.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TestHome;
using testsupport::writeFile;

TEST(PrefixManagerFilesTest, ExistenceTests) {
    TestHome home;
    const std::string prefix = home.root() + "/pre fix \xC3\xA9", wine = home.root() + "/bin/wine";
    PrefixManager m(prefix, wine);
    const std::pair<std::function<void()>, std::array<bool, 4>> steps[] = {
        // wine, prefix, steam, game
        {[&] { fs::create_directories(prefix + "/drive_c"); }, {0, 0, 0, 0}},
        {[&] { writeFile(wine, "#!"), fs::create_symlink(prefix + "/gone", prefix + "/system.reg"); }, {1}},
        {[&] { fs::remove(prefix + "/system.reg"), writeFile(prefix + "/system.reg", ""); }, {1, 1}},
        {[&] { writeFile(prefix + Constants::steamExeUnix, "x"); }, {1, 1, 1, 0}},
        {[&] { fs::create_directories(prefix + Constants::gameExePath); }, {1, 1, 1, 1}},
    };
    for (const auto& [change, expected] : steps) {
        change();
        EXPECT_EQ((std::array{m.wineExists(), m.prefixExists(), m.steamInstalled(), m.gameInstalled()}), expected);
    }
}

TEST(PrefixManagerFilesTest, BackupRestoreAndDelete) {
    TestHome home;
    const std::string prefix = home.root() + "/Application Support/pre fix \xC3\xBC";
    PrefixManager manager(prefix);
    EXPECT_FALSE(manager.backupPrefix().has_value());
    EXPECT_FALSE(fs::exists(fs::path(prefix).parent_path()));

    // Backup then restore: the old content is back, no backup remains.
    writeFile(prefix + "/system.reg", "old registry");
    const auto seconds = [] { return std::chrono::system_clock::now().time_since_epoch() / std::chrono::seconds(1); };
    const auto before = seconds();
    auto backup = manager.backupPrefix();
    ASSERT_TRUE(backup && backup->rfind(prefix + ".backup.", 0) == 0);
    const auto stamp = std::stoll(backup->substr(prefix.size() + 8));
    EXPECT_TRUE(before <= stamp && stamp <= seconds()) << *backup;
    EXPECT_FALSE(fs::exists(prefix));
    writeFile(prefix + "/system.reg", "new, broken");
    EXPECT_TRUE(manager.restoreBackup(*backup));
    EXPECT_EQ(readFile(prefix + "/system.reg"), "old registry");
    EXPECT_FALSE(fs::exists(*backup));

    // Backup then delete: the rebuilt prefix stays, the backup goes; only a
    // path of a backup's form is ever removed.
    backup = manager.backupPrefix();
    ASSERT_TRUE(backup.has_value());
    writeFile(prefix + "/system.reg", "rebuilt");
    manager.deleteBackup(*backup);
    EXPECT_FALSE(fs::exists(*backup));
    writeFile(home.root() + "/other/file", "keep");
    writeFile(prefix + ".backup.12x/file", "keep");
    for (const std::string& path : {prefix, std::string(), home.root() + "/other", prefix + ".backup.",
                                    prefix + ".backup.12x", prefix + "/../other"}) {
        manager.deleteBackup(path);
    }
    EXPECT_EQ(readFile(prefix + "/system.reg") + readFile(home.root() + "/other/file") +
                  readFile(prefix + ".backup.12x/file"),
              "rebuiltkeepkeep");
}

TEST(PrefixManagerFilesTest, BackupNeverReplacesAnEarlierOne) {
    TestHome home;
    const std::string prefix = home.root() + "/prefix";
    PrefixManager manager(prefix);
    writeFile(prefix + "/system.reg", "current");
    // Every name a backup may take in the next seconds is already a backup;
    // an empty one is what plain rename() would silently replace.
    const auto now = std::chrono::system_clock::now().time_since_epoch() / std::chrono::seconds(1);
    for (const std::string earlier : {"", "older"}) {
        for (auto s = now; s < now + 10; ++s) {
            fs::create_directories(prefix + ".backup." + std::to_string(s));
            if (!earlier.empty()) writeFile(prefix + ".backup." + std::to_string(s) + "/system.reg", earlier);
        }
        EXPECT_FALSE(manager.backupPrefix().has_value()) << earlier;
        EXPECT_EQ(readFile(prefix + "/system.reg"), "current");
        for (auto s = now; s < now + 10; ++s)
            EXPECT_EQ(readFile(prefix + ".backup." + std::to_string(s) + "/system.reg"), earlier) << s;
    }
}

TEST(PrefixManagerFilesTest, RestoreNeverLosesTheBackupOrAPrefixForNothing) {
    TestHome home;
    const std::string prefix = home.root() + "/prefix";
    PrefixManager manager(prefix);
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
    // Nothing to put back: the prefix is not thrown away.
    for (const std::string& missing : {prefix + ".backup.1", std::string(), prefix}) {
        EXPECT_FALSE(manager.restoreBackup(missing)) << missing;
        EXPECT_EQ(readFile(prefix + "/stuck/file"), "broken") << missing;
    }
    EXPECT_TRUE(manager.restoreBackup(*backup));
    EXPECT_EQ(readFile(prefix + "/system.reg"), "good");
    EXPECT_FALSE(fs::exists(prefix + "/stuck"));
}

TEST(PrefixManagerFilesTest, PrefixSizeCountsLinksWithoutFollowingThem) {
    TestHome home;
    const std::string prefix = home.root() + "/pre fix";
    EXPECT_EQ(PrefixManager(prefix).prefixSizeBytes(), 0);
    writeFile(prefix + "/.hidden", std::string(7, 'h'));
    writeFile(prefix + "/drive_c/windows/system32/a.dll", std::string(123456, 'a'));
    fs::create_directory_symlink("/", prefix + "/drive_c/root link");
    fs::create_symlink(prefix + "/nowhere", prefix + "/dangling");
    fs::create_directory_symlink(prefix + "/drive_c", prefix + "/loop");

    // du's figure for everything below the root, from a tool we do not control.
    const auto du = platform::Subprocess::run({"/usr/bin/du", {"-s", "-b", prefix}, {}, platform::OutputMode::Pipe});
    ASSERT_TRUE(du && du->exit.status == 0);
    struct stat root {};
    ::lstat(prefix.c_str(), &root);
    const int64_t size = PrefixManager(prefix).prefixSizeBytes();
    EXPECT_EQ(size, std::stoll(du->output) - root.st_size);
    EXPECT_GT(size, 7 + 123456);
    // A prefix that is a link to the real directory is measured through it.
    fs::create_directory_symlink(prefix, home.root() + "/linked");
    EXPECT_EQ(PrefixManager(home.root() + "/linked").prefixSizeBytes(), size);
}
