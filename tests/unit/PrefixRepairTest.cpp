#include <gtest/gtest.h>

#include "wine/PrefixRepair.h"

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
        status("Creating Wine prefix...");
        return ok('C', "create");
    }
    bool deployMesaDLLs(const PrefixRepair::StatusCallback& status) override {
        status("Copying graphics components...");
        return ok('D', "deploy");
    }
    bool restoreBackup(const std::string& path) override { return ok('R', "restore:" + path); }
    void deleteBackup(const std::string& path) override { calls += "delete:" + path + " "; }
};

TEST(PrefixRepairTest, OutcomesByWhatFailed) {
    using R = PrefixRepair::Result;
    const std::string b = kBackup;
    const struct {
        std::string fails;
        R result;
        std::string calls;  // after kill and backup
        std::string last;   // the last screen
    } cases[] = {
        {"", R::rebuilt, "create deploy delete:" + b + " ", "step1"},
        {"B", R::rebuilt, "create deploy ", "step1"},
        {"C", R::restored, "create restore:" + b + " ", PrefixRepair::kRestored},
        {"D", R::restored, "create deploy restore:" + b + " ", PrefixRepair::kRestored},
        // The backup is then the user's only copy: named, kept, and never called restored.
        {"CR", R::restoreFailed, "create restore:" + b + " ", PrefixRepair::kNotRestored},
        {"BC", R::noBackup, "create ", PrefixRepair::kNoBackup},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fails);
        RecordingServices services;
        services.fails = c.fails;
        std::vector<std::string> screens, logged;
        PrefixRepair::Hooks hooks;
        hooks.log = [&](const std::string& level, const std::string& m) { logged.push_back(level + " " + m); };
        hooks.showLoading = [&](const std::string& m) { screens.push_back(m); };
        hooks.showStep1 = [&] { screens.push_back("step1"); };
        hooks.showError = [&](const std::string& m) { screens.push_back(m); };

        EXPECT_EQ(PrefixRepair::run(services, hooks, std::chrono::milliseconds(0)), c.result);
        EXPECT_EQ(services.calls, "kill backup " + c.calls);
        std::vector<std::string> expected = {"Repairing installation...", "Creating Wine prefix..."};
        if (c.fails.find('C') == std::string::npos) expected.push_back("Copying graphics components...");
        expected.push_back(c.last);
        EXPECT_EQ(screens, expected);
        const std::string kept = "ERROR " + std::string(PrefixRepair::kBackupKeptAt) + b;
        EXPECT_EQ(logged, c.result == R::restoreFailed ? std::vector{kept} : std::vector<std::string>{});
    }
}

}  // namespace
