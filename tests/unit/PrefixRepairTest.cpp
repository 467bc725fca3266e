#include <gtest/gtest.h>

#include "controller/PrefixRepair.h"

namespace {

const std::string kBackup = "/prefix.backup.1700000000";

// Services whose steps succeed unless their letter is in `fails`: B (no
// backup), C (creation), D (deployment), R (restore). Calls are recorded.
struct RecordingServices : PrefixRepair::Services {
    std::string fails, calls;
    bool ok(char step, const std::string& call) { return calls += call + " ", fails.find(step) == std::string::npos; }
    void killAll() override { calls += "kill "; }
    std::optional<std::string> backupPrefix() override {
        return ok('B', "backup") ? std::optional(kBackup) : std::nullopt;
    }
    bool createPrefix(const PrefixRepair::StatusCallback& status) override {
        return status("create"), ok('C', "create");
    }
    bool deployMesaDLLs(const PrefixRepair::StatusCallback& status) override {
        return status("deploy"), ok('D', "deploy");
    }
    bool restoreBackup(const std::string& path) override { return ok('R', "restore:" + path); }
    void deleteBackup(const std::string& path) override { calls += "delete:" + path + " "; }
    bool prefix = false;
    std::vector<std::string> found;
    bool prefixExists() override { return prefix; }
    std::vector<std::string> backups() override { return found; }
};

const std::string kRestored = "Repair was not successful.\nYour previous installation has been restored.";
const std::string kNotRestored = "ERROR Could not restore the previous installation; it is kept at ";

TEST(PrefixRepairTest, OutcomesByWhatFailed) {
    using R = PrefixRepair::Result;
    const std::string& b = kBackup;
    // Success, and a failure with no backup, run whole in the journeys' golden logs.
    const std::tuple<std::string, R, std::string, std::string> cases[] = {
        // fails, result, calls after kill and backup, screens after the first
        {"B", R::rebuilt, "create deploy ", "create deploy step1"},
        {"C", R::restored, "create restore:" + b + " ", "create " + kRestored},
        {"D", R::restored, "create deploy restore:" + b + " ", "create deploy " + kRestored},
        // The backup is then the user's only copy: named, kept, and never called restored.
        {"CR", R::restoreFailed, "create restore:" + b + " ",
         "create Repair was not successful.\nYour previous installation could not be restored."},
    };
    for (const auto& [fails, result, calls, screens] : cases) {
        SCOPED_TRACE(fails);
        RecordingServices services;
        services.fails = fails;
        std::string shown, logged;
        PrefixRepair::Hooks hooks;
        hooks.log = [&](const std::string& level, const std::string& m) { logged += level + " " + m; };
        hooks.showLoading = hooks.showError = [&](const std::string& m) { shown += (shown.empty() ? "" : " ") + m; };
        hooks.showStep1 = [&] { shown += " step1"; };
        EXPECT_EQ(PrefixRepair::run(services, hooks, std::chrono::milliseconds(0)), result);
        EXPECT_EQ(services.calls, "kill backup " + calls);
        EXPECT_EQ(shown, "Repairing installation... " + screens);
        EXPECT_EQ(logged, result == R::restoreFailed ? kNotRestored + b : "");
    }
}

// A repair cut short leaves its backup beside the prefix; the next start
// puts the newest back only when no working prefix is there, and never
// deletes one.
TEST(PrefixRepairTest, RecoveryAtStartPutsBackWhatAnInterruptedRepairMovedAside) {
    const std::string older = "/prefix.backup.1600000000", newer = "/prefix.backup.1700000000";
    const std::string restoring = "INFO Restoring the installation an interrupted repair moved aside: " + newer;
    const std::string kept = "WARN An earlier installation is kept beside the prefix: ";
    const std::tuple<const char*, bool, std::vector<std::string>, std::string, std::string> cases[] = {
        // name, prefix present, backups (oldest first), calls, log
        {"nothing left", false, {}, "", ""},
        {"rebuild cut short", false, {older, newer}, "restore:" + newer + " ", restoring + "|" + kept + older + "|"},
        {"working prefix", true, {newer}, "", kept + newer + "|"},
        {"restore fails", false, {newer}, "restore:" + newer + " ", restoring + "|" + kNotRestored + newer + "|"},
    };
    for (const auto& [name, prefix, found, calls, log] : cases) {
        SCOPED_TRACE(name);
        RecordingServices services;
        services.prefix = prefix, services.found = found;
        services.fails = std::string(name) == "restore fails" ? "R" : "";
        std::string logged;
        PrefixRepair::Hooks hooks;
        hooks.log = [&](const std::string& level, const std::string& m) { logged += level + " " + m + "|"; };
        PrefixRepair::recoverInterrupted(services, hooks);
        EXPECT_EQ(services.calls, calls);
        EXPECT_EQ(logged, log);
    }
}

}  // namespace
