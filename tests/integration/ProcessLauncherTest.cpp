#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <thread>

#include "platform/MainQueue.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Open descriptors of this process on `path`.
int descriptorsOn(const std::string& path) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        count += fs::read_symlink(entry.path(), ec) == path;
    }
    return count;
}

class ProcessLauncherTest : public ::testing::Test {
protected:
    ProcessLauncherTest() {
        queue.install();
        launcher.setOnExit([this](int32_t status) { exits.push_back(status); });
        wine.set("steam.helper_delay", "never");
    }
    ~ProcessLauncherTest() override { platform::MainQueue::setPoster({}); }
    bool launch() { return launcher.launchSteam(Constants::prefixPath()); }
    bool exitHandled() {
        return queue.drainUntil([&] { return !launcher.hasGameProcess(); }, 20s);
    }
    std::string output() const { return testsupport::readFile(ProcessLauncher::outputLogPath()); }

    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    ProcessLauncher launcher;
    std::vector<int32_t> exits;
};

}  // namespace

TEST_F(ProcessLauncherTest, RunsSteamInTheSafeEnvironmentOnceAtATimeAndKeepsOnlyTheLatestOutput) {
    wine.set("steam.output", "first launch\n");
    ASSERT_TRUE(launch());
    EXPECT_FALSE(launch()) << "a second launch while the first runs";
    for (int i = 0; i < 2000 && output().empty(); ++i) std::this_thread::sleep_for(10ms);
    launcher.terminate();
    ASSERT_TRUE(exitHandled());
    EXPECT_EQ(output(), "first launch\n");

    wine.set("steam.output", "2nd\n");
    wine.set("steam.quit_after", "0.2");
    wine.set("steam.exit", 7);
    ASSERT_TRUE(launch());
    EXPECT_TRUE(launcher.hasLogHandle());
    ASSERT_TRUE(exitHandled());
    EXPECT_EQ(exits.size(), 2u);
    EXPECT_EQ(exits.back(), 7);
    EXPECT_EQ(launcher.launchGeneration(), 2);
    EXPECT_EQ(output(), "2nd\n");
    EXPECT_FALSE(launcher.hasLogHandle());
    EXPECT_EQ(descriptorsOn(ProcessLauncher::outputLogPath()), 0);
    EXPECT_EQ(ProcessLauncher::outputLogPath(), home.supportDir() + "/wine-steam-output.log");
    const auto calls = wine.calls("wine");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args, std::vector<std::string>{"C:\\Program Files (x86)\\Steam\\steam.exe"});
    EXPECT_EQ(calls[0].env, Constants::buildSafeEnvironment(Constants::prefixPath()));
}

TEST_F(ProcessLauncherTest, ALateExitOfAnOlderLaunchIsDropped) {
    wine.set("steam.quit_after", "0.1");
    wine.set("steam.exit", 3);
    ASSERT_TRUE(launch());
    // The first process ends; its notice waits in the main queue.
    for (int i = 0; i < 2000 && (launcher.isRunning() || queue.pending() == 0); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(queue.pending(), 1u);
    wine.unset("steam.quit_after");
    ASSERT_TRUE(launch());
    queue.drain();
    EXPECT_TRUE(exits.empty());
    EXPECT_TRUE(launcher.hasGameProcess() && launcher.hasLogHandle());
    launcher.terminate();
    ASSERT_TRUE(exitHandled());
    EXPECT_EQ(exits.size(), 1u);  // the second launch's own exit, once
}

TEST_F(ProcessLauncherTest, AnUnopenableLogOrAMissingWine) {
    wine.set("steam.quit_after", "0.2");
    fs::create_directories(ProcessLauncher::outputLogPath());  // a directory where the log belongs
    ASSERT_TRUE(launch()) << "Steam starts without captured output";
    EXPECT_FALSE(launcher.hasLogHandle());
    ASSERT_TRUE(exitHandled());
    fs::remove_all(ProcessLauncher::outputLogPath());
    fs::remove(Constants::wineBin());
    EXPECT_FALSE(launch());
    EXPECT_FALSE(launcher.hasLogHandle() || launcher.hasGameProcess());
    EXPECT_EQ(descriptorsOn(ProcessLauncher::outputLogPath()), 0);
}

TEST_F(ProcessLauncherTest, AnExitNoticeForADestroyedLauncherIsDropped) {
    wine.set("steam.quit_after", "0.1");
    std::optional<ProcessLauncher> shortLived(std::in_place);
    shortLived->setOnExit([&](int32_t status) { exits.push_back(status); });
    ASSERT_TRUE(shortLived->launchSteam(Constants::prefixPath()));
    for (int i = 0; i < 2000 && shortLived->isRunning(); ++i) std::this_thread::sleep_for(10ms);
    shortLived.reset();
    queue.drainUntil([] { return false; }, 500ms);
    EXPECT_TRUE(exits.empty());
}
