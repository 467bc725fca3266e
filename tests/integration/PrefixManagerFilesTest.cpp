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

namespace {

size_t backupsOf(const std::string& prefix) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(fs::path(prefix).parent_path()))
        n += e.path().string().rfind(prefix + ".backup.", 0) == 0;
    return n;
}

}  // namespace

TEST(PrefixManagerFilesTest, ExistenceTests) {
    TestHome home;
    const std::string prefix = home.root() + "/pre fix \xC3\xA9";
    const std::string wine = home.root() + "/bin/wine";
    PrefixManager m(prefix, wine);
    struct Step {
        const char* name;
        std::function<void()> change;
        std::array<bool, 4> expected;  // wine, prefix, steam, game
    };
    const Step steps[] = {
        {"nothing yet", [] {}, {false, false, false, false}},
        {"prefix dir without system.reg", [&] { fs::create_directories(prefix + "/drive_c"); }, {0, 0, 0, 0}},
        {"wine that is not executable", [&] { writeFile(wine, "#!"); }, {1, 0, 0, 0}},
        {"dangling link as system.reg", [&] { fs::create_symlink(prefix + "/gone", prefix + "/system.reg"); }, {1}},
        {"system.reg", [&] { fs::remove(prefix + "/system.reg"), writeFile(prefix + "/system.reg", ""); }, {1, 1}},
        {"steam", [&] { writeFile(prefix + Constants::steamExeUnix, "x"); }, {1, 1, 1, 0}},
        {"game as a directory", [&] { fs::create_directories(prefix + Constants::gameExePath); }, {1, 1, 1, 1}},
    };
    for (const auto& step : steps) {
        step.change();
        const std::array<bool, 4> found = {m.wineExists(), m.prefixExists(), m.steamInstalled(), m.gameInstalled()};
        EXPECT_EQ(found, step.expected) << step.name;
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
    const auto after = seconds();
    ASSERT_TRUE(backup.has_value());
    EXPECT_TRUE(*backup == prefix + ".backup." + std::to_string(before) ||
                *backup == prefix + ".backup." + std::to_string(after))
        << *backup;
    EXPECT_FALSE(fs::exists(prefix));
    writeFile(prefix + "/system.reg", "new, broken");
    EXPECT_TRUE(manager.restoreBackup(*backup));
    EXPECT_EQ(readFile(prefix + "/system.reg"), "old registry");
    EXPECT_EQ(backupsOf(prefix), 0u);

    // Backup then delete: the rebuilt prefix stays, the backup goes.
    backup = manager.backupPrefix();
    ASSERT_TRUE(backup.has_value());
    writeFile(prefix + "/system.reg", "rebuilt");
    manager.deleteBackup(*backup);
    EXPECT_EQ(backupsOf(prefix), 0u);
    EXPECT_EQ(readFile(prefix + "/system.reg"), "rebuilt");

    // Only a path of a backup's form is ever removed.
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

TEST(PrefixManagerFilesTest, SecondBackupInTheSameSecondFailsAndKeepsTheFirst) {
    TestHome home;
    const std::string prefix = home.root() + "/prefix";
    PrefixManager manager(prefix);
    // An empty first backup is the case plain rename() would silently replace.
    for (const bool emptyFirst : {false, true}) {
        for (int attempt = 0;; ++attempt) {
            ASSERT_LT(attempt, 20) << "never managed two backups within one second";
            fs::create_directories(prefix);
            if (!emptyFirst) writeFile(prefix + "/first", "1");
            const auto first = manager.backupPrefix();
            ASSERT_TRUE(first.has_value());
            writeFile(prefix + "/second", "2");
            const auto second = manager.backupPrefix();
            if (second.has_value() && *second != *first) {  // crossed a second boundary; try again
                for (const auto& path : {*first, *second}) fs::remove_all(path);
                continue;
            }
            EXPECT_FALSE(second.has_value()) << emptyFirst;
            EXPECT_EQ(readFile(prefix + "/second"), "2");
            EXPECT_EQ(readFile(*first + "/first"), emptyFirst ? "" : "1");
            EXPECT_TRUE(fs::is_directory(*first));
            EXPECT_FALSE(fs::exists(*first + "/second"));
            for (const auto& path : {*first, prefix}) fs::remove_all(path);
            break;
        }
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
    writeFile(prefix + "/system.reg", std::string(1000, 'r'));
    writeFile(prefix + "/.hidden", std::string(7, 'h'));
    writeFile(prefix + "/drive_c/windows/system32/a.dll", std::string(123456, 'a'));
    fs::create_directories(prefix + "/empty dir");
    fs::create_directory_symlink("/", prefix + "/drive_c/root link");
    fs::create_symlink(prefix + "/nowhere", prefix + "/dangling");
    fs::create_directory_symlink(prefix + "/drive_c", prefix + "/loop");

    // du's figure for everything below the root, from a tool we do not control.
    const auto du = platform::Subprocess::run({"/usr/bin/du", {"-s", "-b", prefix}, {}, platform::OutputMode::Pipe});
    ASSERT_TRUE(du && du->exit.status == 0);
    struct stat root {};
    ::lstat(prefix.c_str(), &root);
    const auto start = std::chrono::steady_clock::now();
    const int64_t size = PrefixManager(prefix).prefixSizeBytes();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << "a link was followed";
    EXPECT_EQ(size, std::stoll(du->output) - root.st_size);
    EXPECT_GT(size, 1000 + 7 + 123456);

    // A prefix that is a link to the real directory is measured through it;
    // a file or a dangling link cannot be enumerated.
    fs::create_directory_symlink(prefix, home.root() + "/linked");
    writeFile(home.root() + "/file", "x");
    fs::create_symlink(home.root() + "/none", home.root() + "/dangling");
    EXPECT_EQ(PrefixManager(home.root() + "/linked").prefixSizeBytes(), size);
    EXPECT_EQ(PrefixManager(home.root() + "/file").prefixSizeBytes(), 0);
    EXPECT_EQ(PrefixManager(home.root() + "/dangling").prefixSizeBytes(), 0);
}
