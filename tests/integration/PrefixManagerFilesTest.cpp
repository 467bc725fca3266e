// PrefixManager's inspection, backup, restore and size operations on real
// directory trees.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/Subprocess.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "support/Undeletable.h"
#include "wine/Constants.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::FakeWine;
using testsupport::readFile;
using testsupport::TestHome;
using testsupport::writeFile;

namespace {

std::vector<std::string> backupsBeside(const std::string& prefix) {
    std::vector<std::string> out;
    const std::string stem = fs::path(prefix).filename().string() + ".backup.";
    for (const auto& e : fs::directory_iterator(fs::path(prefix).parent_path())) {
        if (e.path().filename().string().rfind(stem, 0) == 0) out.push_back(e.path().string());
    }
    return out;
}

// `du -s -b` of a tree, minus the root directory's own size: du's figure for
// everything below the root, computed by a tool we do not control.
int64_t duBelow(const std::string& root) {
    platform::SubprocessSpec child{"/usr/bin/du", {"-s", "-b", root}, {}, platform::OutputMode::Pipe};
    auto r = platform::Subprocess::run(child);
    if (!r || r->exit.status != 0) {
        ADD_FAILURE() << "du failed";
        return -1;
    }
    struct stat st {};
    ::lstat(root.c_str(), &st);
    return std::stoll(r->output) - static_cast<int64_t>(st.st_size);
}

}  // namespace

TEST(PrefixManagerFilesTest, ExistenceTests) {
    TestHome home;
    const std::string prefix = home.root() + "/pre fix \xC3\xA9";
    const std::string wine = home.root() + "/bin/wine";
    PrefixManager manager(prefix, wine);
    struct Probe {
        const char* name;
        std::function<bool()> test;
    };
    const Probe probes[] = {
        {"wine", [&] { return manager.wineExists(); }},
        {"prefix", [&] { return manager.prefixExists(); }},
        {"steam", [&] { return manager.steamInstalled(); }},
        {"game", [&] { return manager.gameInstalled(); }},
    };
    struct Step {
        const char* name;
        std::function<void()> change;
        std::array<bool, 4> expected;  // wine, prefix, steam, game
    };
    const Step steps[] = {
        {"nothing yet", [] {}, {false, false, false, false}},
        {"prefix dir without system.reg",
         [&] { fs::create_directories(prefix + "/drive_c"); },
         {false, false, false, false}},
        {"wine that is not executable", [&] { writeFile(wine, "#!"); }, {true, false, false, false}},
        {"dangling link as system.reg",
         [&] { fs::create_symlink(prefix + "/gone", prefix + "/system.reg"); },
         {true, false, false, false}},
        {"system.reg only",
         [&] {
             fs::remove(prefix + "/system.reg");
             writeFile(prefix + "/system.reg", "");
         },
         {true, true, false, false}},
        {"steam", [&] { writeFile(prefix + Constants::steamExeUnix, "x"); }, {true, true, true, false}},
        {"game as a directory",
         [&] { fs::create_directories(prefix + Constants::gameExePath); },
         {true, true, true, true}},
    };
    for (const auto& step : steps) {
        step.change();
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(probes[i].test(), step.expected[i]) << step.name << ": " << probes[i].name;
    }
}

TEST(PrefixManagerFilesTest, CheckWineVersion) {
    TestHome home;
    FakeWine wine;
    PrefixManager manager;
    struct Case {
        const char* name;
        std::string output;
        int exit;
        bool valid;
        std::string version;
    };
    const Case cases[] = {
        {"required tag with build label", "wine-11.4 (Staging)\n", 0, true, "wine-11.4 (Staging)"},
        {"older release", "wine-11.3\n", 0, false, "wine-11.3"},
        {"surrounding whitespace", " \twine-11.4\r\n\n", 0, true, "wine-11.4"},
        {"case matters", "Wine-11.4\n", 0, false, "Wine-11.4"},
        {"exit status ignored", "wine-11.4\n", 5, true, "wine-11.4"},
        {"no output", "", 0, false, ""},
        {"not UTF-8", "wine-11.4 \xFF\n", 0, false, ""},
    };
    for (const auto& c : cases) {
        wine.set("version.output", c.output);
        wine.set("version.exit", c.exit);
        auto check = manager.checkWineVersion();
        EXPECT_EQ(check.valid, c.valid) << c.name;
        EXPECT_EQ(check.version, c.version) << c.name;
    }
    fs::remove(Constants::wineBin());
    auto check = manager.checkWineVersion();
    EXPECT_FALSE(check.valid);
    EXPECT_EQ(check.version.rfind("Launch failed: ", 0), 0u) << check.version;
}

TEST(PrefixManagerFilesTest, BackupRestoreAndDelete) {
    TestHome home;
    const std::string prefix = home.root() + "/Application Support/pre fix \xC3\xBC";
    PrefixManager manager(prefix);

    EXPECT_FALSE(manager.backupPrefix().has_value());
    EXPECT_FALSE(fs::exists(fs::path(prefix).parent_path()));

    // Backup then restore: the old content is back, no backup remains.
    writeFile(prefix + "/system.reg", "old registry");
    const auto before = std::chrono::system_clock::now();
    auto backup = manager.backupPrefix();
    const auto after = std::chrono::system_clock::now();
    ASSERT_TRUE(backup.has_value());
    const auto secs = [](auto t) {
        return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
    };
    const std::string stem = prefix + ".backup.";
    ASSERT_EQ(backup->rfind(stem, 0), 0u) << *backup;
    const long long stamp = std::stoll(backup->substr(stem.size()));
    EXPECT_GE(stamp, secs(before));
    EXPECT_LE(stamp, secs(after));
    EXPECT_EQ(std::to_string(stamp), backup->substr(stem.size()));
    EXPECT_FALSE(fs::exists(prefix));
    writeFile(prefix + "/system.reg", "new, broken");
    EXPECT_TRUE(manager.restoreBackup(*backup));
    EXPECT_EQ(readFile(prefix + "/system.reg"), "old registry");
    EXPECT_TRUE(backupsBeside(prefix).empty());

    // Backup then delete: the rebuilt prefix stays, the backup goes.
    backup = manager.backupPrefix();
    ASSERT_TRUE(backup.has_value());
    writeFile(prefix + "/system.reg", "rebuilt");
    manager.deleteBackup(*backup);
    EXPECT_TRUE(backupsBeside(prefix).empty());
    EXPECT_EQ(readFile(prefix + "/system.reg"), "rebuilt");
}

TEST(PrefixManagerFilesTest, SecondBackupInTheSameSecondFailsAndKeepsTheFirst) {
    TestHome home;
    const std::string prefix = home.root() + "/prefix";
    PrefixManager manager(prefix);
    // An empty first backup is the case plain rename() would silently replace.
    for (const bool emptyFirst : {false, true}) {
        SCOPED_TRACE(emptyFirst ? "empty first backup" : "full first backup");
        for (int attempt = 0;; ++attempt) {
            ASSERT_LT(attempt, 20) << "never managed two backups within one second";
            for (const auto& b : backupsBeside(prefix)) fs::remove_all(b);
            fs::create_directories(prefix);
            if (!emptyFirst) writeFile(prefix + "/first", "1");
            auto first = manager.backupPrefix();
            ASSERT_TRUE(first.has_value());
            writeFile(prefix + "/second", "2");
            auto second = manager.backupPrefix();
            if (second.has_value() && *second != *first) {
                fs::rename(*second, prefix);  // crossed a second boundary; try again
                fs::remove_all(prefix);
                continue;
            }
            EXPECT_FALSE(second.has_value());
            EXPECT_EQ(readFile(prefix + "/second"), "2");
            EXPECT_EQ(readFile(*first + "/first"), emptyFirst ? "" : "1");
            EXPECT_TRUE(fs::is_directory(*first));
            EXPECT_FALSE(fs::exists(*first + "/second"));
            fs::remove_all(prefix);
            break;
        }
    }
}

TEST(PrefixManagerFilesTest, RestoreNeverLosesTheBackupOrAPrefixForNothing) {
    TestHome home;
    const std::string prefix = home.root() + "/prefix";
    PrefixManager manager(prefix);
    writeFile(prefix + "/system.reg", "good");
    auto backup = manager.backupPrefix();
    ASSERT_TRUE(backup.has_value());
    writeFile(prefix + "/stuck/file", "broken");

    // The failed prefix cannot be removed completely: false, both stay.
    {
        testsupport::Undeletable pin(prefix + "/stuck/file");
        if (!pin.active()) GTEST_SKIP() << "this file system cannot pin a file";
        EXPECT_FALSE(manager.restoreBackup(*backup));
        EXPECT_EQ(readFile(*backup + "/system.reg"), "good");
        EXPECT_EQ(readFile(prefix + "/stuck/file"), "broken");
    }
    // Nothing to put back: the prefix is not thrown away.
    struct Case {
        const char* name;
        std::string backup;
    };
    const Case cases[] = {{"missing backup", prefix + ".backup.1"}, {"empty path", ""}, {"the prefix itself", prefix}};
    for (const auto& c : cases) {
        EXPECT_FALSE(manager.restoreBackup(c.backup)) << c.name;
        EXPECT_EQ(readFile(prefix + "/stuck/file"), "broken") << c.name;
    }
    EXPECT_TRUE(manager.restoreBackup(*backup));
    EXPECT_EQ(readFile(prefix + "/system.reg"), "good");
    EXPECT_FALSE(fs::exists(prefix + "/stuck"));
}

TEST(PrefixManagerFilesTest, DeleteBackupRemovesOnlyBackups) {
    TestHome home;
    const std::string prefix = home.root() + "/prefix";
    PrefixManager manager(prefix);
    writeFile(prefix + "/system.reg", "keep");
    writeFile(home.root() + "/other/file", "keep");
    writeFile(prefix + ".backup.12x/file", "keep");
    for (const std::string& path : {prefix, std::string(), home.root() + "/other", prefix + ".backup.",
                                    prefix + ".backup.12x", prefix + "/../other"}) {
        manager.deleteBackup(path);
    }
    EXPECT_EQ(readFile(prefix + "/system.reg"), "keep");
    EXPECT_EQ(readFile(home.root() + "/other/file"), "keep");
    EXPECT_EQ(readFile(prefix + ".backup.12x/file"), "keep");
    writeFile(prefix + ".backup.1700000000/x", "gone");
    manager.deleteBackup(prefix + ".backup.1700000000");
    EXPECT_FALSE(fs::exists(prefix + ".backup.1700000000"));
}

TEST(PrefixManagerFilesTest, PrefixSizeCountsLinksWithoutFollowingThem) {
    TestHome home;
    const std::string prefix = home.root() + "/pre fix";
    PrefixManager manager(prefix);
    EXPECT_EQ(manager.prefixSizeBytes(), 0);

    writeFile(prefix + "/system.reg", std::string(1000, 'r'));
    writeFile(prefix + "/.hidden", std::string(7, 'h'));
    writeFile(prefix + "/drive_c/windows/system32/a.dll", std::string(123456, 'a'));
    writeFile(prefix + "/drive_c/deep/er/still/b", std::string(5, 'b'));
    fs::create_directories(prefix + "/empty dir");
    fs::create_directory_symlink("/", prefix + "/drive_c/root link");
    fs::create_symlink(prefix + "/nowhere", prefix + "/dangling");
    fs::create_directory_symlink(prefix + "/drive_c", prefix + "/loop");

    const auto start = std::chrono::steady_clock::now();
    const int64_t size = manager.prefixSizeBytes();
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(size, duBelow(prefix));
    EXPECT_GT(size, 1000 + 7 + 123456 + 5);
    EXPECT_LT(took, 30.0) << "a link was followed";

    // A prefix that is itself a link to the real directory is measured through it.
    const std::string linked = home.root() + "/linked prefix";
    fs::create_directory_symlink(prefix, linked);
    EXPECT_EQ(PrefixManager(linked).prefixSizeBytes(), size);
    // A prefix path that is a file, or a dangling link, cannot be enumerated.
    writeFile(home.root() + "/file prefix", "x");
    fs::create_symlink(home.root() + "/none", home.root() + "/dangling prefix");
    EXPECT_EQ(PrefixManager(home.root() + "/file prefix").prefixSizeBytes(), 0);
    EXPECT_EQ(PrefixManager(home.root() + "/dangling prefix").prefixSizeBytes(), 0);
}
