// The launcher killed (SIGKILL), with the Wine command it waits on, while it builds the prefix, or a
// wineboot that fails half-way as Wine's does on a full disk: the next start never takes what is
// left for a finished prefix or deployment, and builds again what was cut short.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "logging/Logger.h"
#include "runtime/RuntimeValidator.h"
#include "support/FakeWine.h"
#include "support/GraphicsBundle.h"
#include "support/TestHome.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

namespace {

const std::string kSaved = "/drive_c/users/steamuser/Documents/save.dat";
const std::string kLeftover = "/drive_c/windows/system32/cut-short.dll";
const std::string kWholeRegistry = "WINE REGISTRY Version 2\n#arch=win64\n";

struct Point {
    const char* name;
    std::map<std::string, std::string> wine;  // the fake Wine of the first start
    const char* command;                      // the launcher is killed inside its first call of it; "": not killed
    bool usersFiles;                          // the prefix directory already held the user's files
    bool prefixLeft;                          // what is left counts as a prefix
    friend std::ostream& operator<<(std::ostream& os, const Point& p) { return os << p.name; }
};

class PrefixKillPointTest : public ::testing::TestWithParam<Point> {};

}  // namespace

TEST_P(PrefixKillPointTest, NextStartBuildsAgainWhatWasCutShort) {
    const Point& point = GetParam();
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    testsupport::GraphicsBundle bundle(home.bundle());
    const std::string prefix = Constants::prefixPath();
    if (point.usersFiles) writeFile(prefix + kSaved, "the user's");  // no system.reg: a restore cut short
    wine.configure(point.wine);
    const pid_t launcher = ::fork();  // the launcher's setup, forked while this process runs no other thread
    if (launcher == 0) {
        PrefixManager manager;
        if (manager.createPrefix(nullptr)) (void)manager.deployMesaDLLs(nullptr);
        ::_exit(0);
    }
    const std::string command = point.command;
    for (int i = 0; i < 3000 && !command.empty() && wine.runs(command) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the command is well into its work
    if (!command.empty()) ::kill(launcher, SIGKILL);
    int waited = 0;
    ASSERT_EQ(::waitpid(launcher, &waited, 0), launcher);
    EXPECT_EQ(WIFSIGNALED(waited), !command.empty());
    for (int pid : wine.livePids()) ::kill(pid, SIGKILL);

    PrefixManager next;
    EXPECT_EQ(next.prefixExists(), point.prefixLeft);
    EXPECT_FALSE(next.mesaDLLsDeployed());
    if (!point.prefixLeft) writeFile(prefix + kLeftover, "half");  // as a wineboot cut short may leave
    // The next start, as setup goes: a prefix when there is none, then the components.
    wine.configure({});
    const size_t wineboots = wine.runs("wineboot");
    ASSERT_TRUE(next.prefixExists() || next.createPrefix(nullptr));
    ASSERT_TRUE(next.mesaDLLsDeployed() || next.deployMesaDLLs(nullptr));
    EXPECT_EQ(wine.runs("wineboot") - wineboots, point.prefixLeft ? 0u : 1u);
    EXPECT_EQ(readFile(prefix + "/system.reg"), kWholeRegistry);
    EXPECT_NE(readFile(prefix + "/user.reg")
                  .find("[Software\\\\Wine\\\\AppDefaults\\\\Quillmoor.exe] "
                        "1765000000\n#time=1db66a2c5e0f3a4\n\"Version\"=\"winxp\"\n"),
              std::string::npos)
        << "the last registry write";
    EXPECT_TRUE(next.prefixExists() && next.mesaDLLsDeployed());
    // Only a prefix that was wineboot's alone from the start is emptied before it is built again.
    EXPECT_EQ(readFile(prefix + kSaved), point.usersFiles ? "the user's" : "");
    EXPECT_EQ(fs::exists(prefix + kLeftover), point.usersFiles);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Setup, PrefixKillPointTest, ::testing::Values(
    Point{"WinebootKilled", {{"wineboot.create", "partial"}, {"wineboot.sleep", "60"}}, "wineboot", false, false},
    Point{"WinebootFailed", {{"wineboot.create", "partial"}, {"wineboot.exit", "1"}}, "", false, false},
    Point{"WinebootKilledOverUserFiles", {{"wineboot.create", "partial"}, {"wineboot.sleep", "60"}}, "wineboot", true,
          false},
    Point{"RegistryWritesKilled", {{"reg.sleep", "60"}}, "reg", false, true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// What an earlier launcher finished, which knew nothing of unfinished work, counts as finished.
TEST(PrefixKillPointTest, APrefixAnEarlierLauncherFinishedCountsAsFinished) {
    testsupport::TestHome home;
    testsupport::GraphicsBundle bundle(home.bundle());
    const std::string prefix = Constants::prefixPath();
    writeFile(prefix + "/system.reg", kWholeRegistry);
    for (const auto& artifact : bundle.manifest().artifacts)
        writeFile(RuntimeValidator::deployedPath(prefix, artifact), readFile(bundle.fileOf(artifact)));
    PrefixManager manager;
    EXPECT_TRUE(manager.prefixExists() && manager.mesaDLLsDeployed());
}
