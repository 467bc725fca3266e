// Repair over real directories: the prefix manager moves, creates, restores
// and deletes for real, with the fake Wine runtime standing in for wineboot.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/Constants.h"
#include "wine/PrefixManager.h"
#include "wine/PrefixRepair.h"

namespace fs = std::filesystem;
using testsupport::FakeWine;
using testsupport::readFile;
using testsupport::TestHome;
using testsupport::writeFile;

namespace {

// A prefix manager whose restore can be made to fail, as when the new prefix
// cannot be removed.
class RestoreFailingPrefixManager : public PrefixManager {
public:
    bool failRestore = false;
    bool restoreBackup(const std::string& backupPath) override {
        return failRestore ? false : PrefixManager::restoreBackup(backupPath);
    }
};

// The repair's services over the real prefix manager. Graphics deployment
// and the process kill are recorded only: they have their own tests, and
// here only their place in the order matters.
struct RepairOverPrefix : PrefixRepair::Services {
    RestoreFailingPrefixManager& prefix;
    std::vector<std::string> calls;
    explicit RepairOverPrefix(RestoreFailingPrefixManager& p) : prefix(p) {}

    void killAll() override {
        // Steam must be gone before the prefix moves: the prefix is still in place here.
        calls.push_back(fs::exists(prefix.prefixPath()) ? "killAll with prefix in place" : "killAll");
    }
    std::optional<std::string> backupPrefix() override { return prefix.backupPrefix(); }
    bool createPrefix(const PrefixRepair::StatusCallback& status) override { return prefix.createPrefix(status); }
    bool deployMesaDLLs(const PrefixRepair::StatusCallback&) override {
        calls.push_back("deployMesaDLLs");
        return true;
    }
    bool restoreBackup(const std::string& path) override { return prefix.restoreBackup(path); }
    void deleteBackup(const std::string& path) override { prefix.deleteBackup(path); }
};

std::vector<std::string> backupsOf(const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(fs::path(prefix).parent_path())) {
        const std::string path = entry.path().string();
        if (path.rfind(prefix + ".backup.", 0) == 0) found.push_back(path);
    }
    return found;
}

TEST(PrefixRepairOnDiskTest, EndsByWhatCouldBeBuiltAndRestored) {
    struct Case {
        const char* name;
        bool oldPrefix;
        bool winebootFails;
        bool restoreFails;
        PrefixRepair::Result result;
        bool oldSteamBack;  // the old prefix, with its Steam, is in place afterwards
        size_t backupsLeft;
    };
    const std::vector<Case> cases = {
        {"rebuilt", true, false, false, PrefixRepair::Result::rebuilt, false, 0},
        {"creation fails, restored", true, true, false, PrefixRepair::Result::restored, true, 0},
        {"creation fails, restore fails", true, true, true, PrefixRepair::Result::restoreFailed, false, 1},
        {"no prefix, creation fails", false, true, false, PrefixRepair::Result::noBackup, false, 0},
        {"no prefix, rebuilt", false, false, false, PrefixRepair::Result::rebuilt, false, 0},
    };
    TestHome home;
    FakeWine wine;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string prefix = Constants::prefixPath();
        // The runtime lives in the support directory too; only the prefix and its backups go.
        fs::remove_all(prefix);
        for (const auto& backup : backupsOf(prefix)) fs::remove_all(backup);
        wine.configure({});
        if (c.oldPrefix) {
            writeFile(prefix + "/system.reg", "old registry");
            writeFile(prefix + Constants::steamExeUnix, "old steam");
        }
        if (c.winebootFails) wine.set("wineboot.exit", 1);

        RestoreFailingPrefixManager manager;
        manager.failRestore = c.restoreFails;
        RepairOverPrefix services(manager);
        std::vector<std::string> errors;
        std::string lastScreen;
        PrefixRepair::Hooks hooks;
        hooks.log = [&](const std::string& level, const std::string& m) {
            if (level == "ERROR") errors.push_back(m);
        };
        hooks.showLoading = [&](const std::string& m) { lastScreen = "loading " + m; };
        hooks.showStep1 = [&] { lastScreen = "step1"; };
        hooks.showError = [&](const std::string& m) { lastScreen = "error " + m; };

        const auto result = PrefixRepair::run(services, hooks, std::chrono::milliseconds(0));
        EXPECT_EQ(result, c.result);
        ASSERT_FALSE(services.calls.empty());
        EXPECT_EQ(services.calls.front(), c.oldPrefix ? "killAll with prefix in place" : "killAll");

        EXPECT_EQ(fs::exists(prefix + Constants::steamExeUnix), c.oldSteamBack);
        const auto backups = backupsOf(prefix);
        ASSERT_EQ(backups.size(), c.backupsLeft);
        switch (c.result) {
        case PrefixRepair::Result::rebuilt:
            EXPECT_EQ(lastScreen, "step1");
            EXPECT_TRUE(manager.prefixExists());
            break;
        case PrefixRepair::Result::restored:
            EXPECT_EQ(lastScreen, std::string("error ") + PrefixRepair::kRestored);
            EXPECT_EQ(readFile(prefix + "/system.reg"), "old registry");
            break;
        case PrefixRepair::Result::restoreFailed:
            EXPECT_EQ(lastScreen, std::string("error ") + PrefixRepair::kNotRestored);
            EXPECT_EQ(readFile(backups[0] + Constants::steamExeUnix), "old steam") << "the backup is kept whole";
            EXPECT_THAT(errors, testing::Contains(std::string(PrefixRepair::kBackupKeptAt) + backups[0]));
            break;
        case PrefixRepair::Result::noBackup:
            EXPECT_EQ(lastScreen, std::string("error ") + PrefixRepair::kNoBackup);
            break;
        }
    }
}

}  // namespace
