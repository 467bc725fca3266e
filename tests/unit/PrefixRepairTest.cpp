#include <gtest/gtest.h>

#include "controller/PrefixRepair.h"
#include "support/LogTail.h"
#include "support/RecordingFrontEnd.h"

namespace {

const std::string kOlder = "/prefix.backup.1600000000", kNewer = "/prefix.backup.1700000000";
const std::string kKeptAt = "ERROR Could not restore the previous installation; it is kept at " + kNewer + "|";

// Steps succeed unless their letter is in `fails`: C (creation), D (deployment), R (restore). Calls, screens and
// the launcher log's new lines are recorded. Make it in a test's HOME.
struct Recorder : PrefixRepair::Services {
    testsupport::LogTail log;
    testsupport::RecordingFrontEnd frontEnd;
    std::string fails, calls;
    bool prefix = false;
    std::vector<std::string> found;
    bool ok(char step, const std::string& call) { return calls += call + " ", fails.find(step) == std::string::npos; }
    void killAll() override { calls += "kill "; }
    std::optional<std::string> backupPrefix() override { return calls += "backup ", kNewer; }
    bool createPrefix(const StatusCallback&) override { return ok('C', "create"); }
    bool deployMesaDLLs(const StatusCallback&) override { return ok('D', "deploy"); }
    bool restoreBackup(const std::string& path) override { return ok('R', "restore:" + path); }
    void deleteBackup(const std::string& path) override { calls += "delete:" + path + " "; }
    bool prefixExists() override { return prefix; }
    std::vector<std::string> backups() override { return found; }
};

// (A rebuild, a failed creation put back, and no backup at all run whole in the journeys' golden logs.)
TEST(PrefixRepairTest, AFailedRebuildPutsTheBackupBackAndNeverDeletesTheOnlyCopy) {
    using R = PrefixRepair::Result;
    testsupport::TestHome home;
    const std::tuple<std::string, R, std::string, std::string, std::string> cases[] = {
        // fails, result, calls after kill and backup, screens after the first, log
        {"D", R::restored, "create deploy restore:" + kNewer + " ",
         "Repair was not successful.\nYour previous installation has been restored.|", ""},
        {"CR", R::restoreFailed, "create restore:" + kNewer + " ",
         "Repair was not successful.\nYour previous installation could not be restored.|", kKeptAt},
    };
    for (const auto& [fails, result, calls, screens, log] : cases) {
        SCOPED_TRACE(fails);
        Recorder r;
        r.fails = fails;
        EXPECT_EQ(PrefixRepair::run(r, r.frontEnd, std::chrono::milliseconds(0)), result);
        EXPECT_EQ(r.calls, "kill backup " + calls);
        EXPECT_EQ(r.frontEnd.joined(), "loading:Repairing installation...|error:" + screens);
        EXPECT_EQ(r.log.entries(), log);
    }
}

// A repair cut short leaves its backup beside the prefix: the next start puts the newest back only when no
// working prefix is there, and deletes none.
TEST(PrefixRepairTest, RecoveryAtStartPutsBackWhatAnInterruptedRepairMovedAside) {
    const std::string restoring = "INFO Restoring the installation an interrupted repair moved aside: " + kNewer + "|";
    const std::string kept = "WARN An earlier installation is kept beside the prefix: ";
    const std::tuple<const char*, bool, std::vector<std::string>, std::string, std::string> cases[] = {
        // fails, prefix present, backups (oldest first), calls, log
        {"", false, {}, "", ""},
        {"", false, {kOlder, kNewer}, "restore:" + kNewer + " ", restoring + kept + kOlder + "|"},
        {"", true, {kNewer}, "", kept + kNewer + "|"},
        {"R", false, {kNewer}, "restore:" + kNewer + " ", restoring + kKeptAt},
    };
    testsupport::TestHome home;
    for (const auto& [fails, prefix, found, calls, log] : cases) {
        SCOPED_TRACE(calls + log);
        Recorder r;
        r.fails = fails, r.prefix = prefix, r.found = found;
        PrefixRepair::recoverInterrupted(r);
        EXPECT_EQ(r.calls, calls);
        EXPECT_EQ(r.log.entries(), log);
    }
}

}  // namespace
