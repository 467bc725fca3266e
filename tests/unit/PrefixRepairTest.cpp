#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wine/PrefixRepair.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

struct FakeRepairServices : PrefixRepair::Services {
    std::vector<std::string> calls;
    std::optional<std::string> backup = "/prefix.backup.1700000000";
    bool createOK = true;
    bool deployOK = true;
    bool restoreOK = true;

    void killAll() override { calls.push_back("killAll"); }
    std::optional<std::string> backupPrefix() override { return calls.push_back("backupPrefix"), backup; }
    bool createPrefix(const PrefixRepair::StatusCallback& status) override {
        calls.push_back("createPrefix");
        status("Creating Wine prefix...");
        return createOK;
    }
    bool deployMesaDLLs(const PrefixRepair::StatusCallback& status) override {
        calls.push_back("deployMesaDLLs");
        status("Copying graphics components...");
        return deployOK;
    }
    bool restoreBackup(const std::string& path) override { return calls.push_back("restoreBackup " + path), restoreOK; }
    void deleteBackup(const std::string& path) override { calls.push_back("deleteBackup " + path); }
};

struct Recorded {
    std::vector<std::string> screens;
    std::vector<std::string> errors;  // ERROR log lines, showError's included
    PrefixRepair::Hooks hooks() {
        PrefixRepair::Hooks h;
        h.log = [this](const std::string& level, const std::string& m) {
            if (level == "ERROR") errors.push_back(m);
        };
        h.showLoading = [this](const std::string& m) { screens.push_back("loading " + m); };
        h.showStep1 = [this] { screens.push_back("step1"); };
        h.showError = [this](const std::string& m) {
            errors.push_back(m);
            screens.push_back("error " + m);
        };
        return h;
    }
};

TEST(PrefixRepairTest, OutcomesByWhatFailed) {
    const std::string backup = "/prefix.backup.1700000000";
    struct Case {
        const char* name;
        bool hasBackup, createOK, deployOK, restoreOK;
        PrefixRepair::Result result;
        std::vector<std::string> tail;  // the calls after the backup
        std::string lastScreen;
    };
    const std::vector<Case> cases = {
        {"rebuilt",
         true,
         true,
         true,
         true,
         PrefixRepair::Result::rebuilt,
         {"createPrefix", "deployMesaDLLs", "deleteBackup " + backup},
         "step1"},
        {"rebuilt without old prefix",
         false,
         true,
         true,
         true,
         PrefixRepair::Result::rebuilt,
         {"createPrefix", "deployMesaDLLs"},
         "step1"},
        {"creation fails, restored",
         true,
         false,
         true,
         true,
         PrefixRepair::Result::restored,
         {"createPrefix", "restoreBackup " + backup},
         std::string("error ") + PrefixRepair::kRestored},
        {"deployment fails, restored",
         true,
         true,
         false,
         true,
         PrefixRepair::Result::restored,
         {"createPrefix", "deployMesaDLLs", "restoreBackup " + backup},
         std::string("error ") + PrefixRepair::kRestored},
        {"creation fails, restore fails",
         true,
         false,
         true,
         false,
         PrefixRepair::Result::restoreFailed,
         {"createPrefix", "restoreBackup " + backup},
         std::string("error ") + PrefixRepair::kNotRestored},
        {"creation fails, nothing to restore",
         false,
         false,
         true,
         true,
         PrefixRepair::Result::noBackup,
         {"createPrefix"},
         std::string("error ") + PrefixRepair::kNoBackup},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRepairServices services;
        if (!c.hasBackup) services.backup.reset();
        services.createOK = c.createOK;
        services.deployOK = c.deployOK;
        services.restoreOK = c.restoreOK;
        Recorded recorded;

        EXPECT_EQ(PrefixRepair::run(services, recorded.hooks(), std::chrono::milliseconds(0)), c.result);

        std::vector<std::string> expected{"killAll", "backupPrefix"};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_THAT(services.calls, ElementsAreArray(expected));
        ASSERT_FALSE(recorded.screens.empty());
        EXPECT_EQ(recorded.screens.front(), std::string("loading ") + PrefixRepair::kRepairing);
        EXPECT_EQ(recorded.screens.back(), c.lastScreen);
    }
}

TEST(PrefixRepairTest, FailedRestoreNamesAndKeepsTheBackup) {
    FakeRepairServices services;
    services.createOK = false;
    services.restoreOK = false;
    Recorded recorded;
    (void)PrefixRepair::run(services, recorded.hooks(), std::chrono::milliseconds(0));

    EXPECT_THAT(recorded.errors,
                ElementsAre(std::string(PrefixRepair::kBackupKeptAt) + *services.backup, PrefixRepair::kNotRestored));
    for (const auto& call : services.calls) EXPECT_NE(call.rfind("deleteBackup", 0), 0u) << call;
    EXPECT_THAT(recorded.screens, testing::Not(testing::Contains(std::string("error ") + PrefixRepair::kRestored)));
}

TEST(PrefixRepairTest, StatusLinesOfBothStepsReachTheScreen) {
    FakeRepairServices services;
    Recorded recorded;
    (void)PrefixRepair::run(services, recorded.hooks(), std::chrono::milliseconds(0));
    EXPECT_THAT(recorded.screens, ElementsAre("loading Repairing installation...", "loading Creating Wine prefix...",
                                              "loading Copying graphics components...", "step1"));
}

}  // namespace
