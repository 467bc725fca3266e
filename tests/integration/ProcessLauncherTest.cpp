#include <gtest/gtest.h>
#include <unistd.h>

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

// Open descriptors of this process that point at `path`.
int openDescriptorsOn(const std::string& path) {
    int count = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkEc;
        if (fs::read_symlink(entry.path(), linkEc) == path) ++count;
    }
    return count;
}

class ProcessLauncherTest : public ::testing::Test {
protected:
    void SetUp() override { queue.install(); }
    void TearDown() override { platform::MainQueue::setPoster({}); }

    // Drains the main queue until the launch's exit has been handled.
    bool drainUntilExit() {
        return queue.drainUntil([&] { return !launcher.hasGameProcess(); }, 20s);
    }
    void recordExits() {
        launcher.setOnExit([this](int32_t status) { exits.push_back(status); });
    }

    testsupport::TestHome home;
    platform::ManualQueue queue;
    ProcessLauncher launcher;
    std::vector<int32_t> exits;
};

}  // namespace

TEST_F(ProcessLauncherTest, RunsSteamWithItsWindowsPathInTheSafeEnvironmentAndReportsItsExit) {
    testsupport::FakeWine wine;
    wine.set("steam.helper_delay", "never");
    wine.set("steam.output", "console line\n");
    wine.set("steam.quit_after", "0.2");
    wine.set("steam.exit", 7);
    recordExits();

    ASSERT_TRUE(launcher.launchSteam(Constants::prefixPath()));
    EXPECT_EQ(launcher.launchGeneration(), 1);
    EXPECT_TRUE(launcher.hasLogHandle());
    ASSERT_TRUE(drainUntilExit());

    EXPECT_EQ(exits, std::vector<int32_t>{7});
    EXPECT_FALSE(launcher.isRunning());
    EXPECT_FALSE(launcher.hasLogHandle());
    EXPECT_EQ(openDescriptorsOn(ProcessLauncher::outputLogPath()), 0);
    EXPECT_EQ(testsupport::readFile(ProcessLauncher::outputLogPath()), "console line\n");
    EXPECT_EQ(ProcessLauncher::outputLogPath(), home.supportDir() + "/wine-steam-output.log");

    const auto calls = wine.calls("wine");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, std::vector<std::string>{"C:\\Program Files (x86)\\Steam\\steam.exe"});
    EXPECT_EQ(calls[0].env, Constants::buildSafeEnvironment(Constants::prefixPath()));
}

TEST_F(ProcessLauncherTest, ASecondLaunchIsRefusedWhileTheFirstRunsAndTheLogKeepsOnlyTheLatest) {
    testsupport::FakeWine wine;
    wine.set("steam.helper_delay", "never");
    wine.set("steam.output", "first launch\n");
    recordExits();

    ASSERT_TRUE(launcher.launchSteam(Constants::prefixPath()));
    EXPECT_FALSE(launcher.launchSteam(Constants::prefixPath()));
    EXPECT_EQ(launcher.launchGeneration(), 1);
    EXPECT_TRUE(launcher.isRunning());
    // Let the client come up before it is ended.
    for (int i = 0; i < 2000 && testsupport::readFile(ProcessLauncher::outputLogPath()).empty(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(wine.calls("wine").size(), 1u);

    launcher.terminate();
    ASSERT_TRUE(drainUntilExit());
    EXPECT_EQ(exits.size(), 1u);
    EXPECT_EQ(testsupport::readFile(ProcessLauncher::outputLogPath()), "first launch\n");

    wine.set("steam.output", "2nd\n");
    wine.set("steam.quit_after", "0.2");
    ASSERT_TRUE(launcher.launchSteam(Constants::prefixPath()));
    EXPECT_EQ(launcher.launchGeneration(), 2);
    ASSERT_TRUE(drainUntilExit());
    EXPECT_EQ(exits.size(), 2u);
    EXPECT_EQ(testsupport::readFile(ProcessLauncher::outputLogPath()), "2nd\n");
}

TEST_F(ProcessLauncherTest, ALateExitOfAnOlderLaunchIsDropped) {
    testsupport::FakeWine wine;
    wine.set("steam.helper_delay", "never");
    wine.set("steam.quit_after", "0.1");
    wine.set("steam.exit", 3);
    recordExits();

    ASSERT_TRUE(launcher.launchSteam(Constants::prefixPath()));
    // The first process ends; its notice waits in the main queue.
    for (int i = 0; i < 2000 && launcher.isRunning(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_FALSE(launcher.isRunning());
    for (int i = 0; i < 2000 && queue.pending() == 0; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(queue.pending(), 1u);

    wine.unset("steam.quit_after");
    wine.set("steam.exit", 0);
    ASSERT_TRUE(launcher.launchSteam(Constants::prefixPath()));
    EXPECT_EQ(launcher.launchGeneration(), 2);
    queue.drain();

    EXPECT_TRUE(exits.empty());
    EXPECT_TRUE(launcher.isRunning());
    EXPECT_TRUE(launcher.hasGameProcess());
    EXPECT_TRUE(launcher.hasLogHandle());
    EXPECT_EQ(openDescriptorsOn(ProcessLauncher::outputLogPath()), 1);

    launcher.terminate();
    ASSERT_TRUE(drainUntilExit());
    EXPECT_EQ(exits.size(), 1u);  // the second launch's own exit, once
    EXPECT_NE(exits, std::vector<int32_t>{3});
}

TEST_F(ProcessLauncherTest, StartsSteamWithoutCapturedOutputWhenTheLogCannotBeOpened) {
    testsupport::FakeWine wine;
    wine.set("steam.helper_delay", "never");
    wine.set("steam.output", "");
    wine.set("steam.quit_after", "0.2");
    recordExits();
    fs::create_directories(ProcessLauncher::outputLogPath());  // a directory where the log belongs

    ASSERT_TRUE(launcher.launchSteam(Constants::prefixPath()));
    EXPECT_FALSE(launcher.hasLogHandle());
    ASSERT_TRUE(drainUntilExit());
    EXPECT_EQ(exits, std::vector<int32_t>{0});
    EXPECT_EQ(wine.calls("wine").size(), 1u);
}

TEST_F(ProcessLauncherTest, AMissingWineFailsTheLaunchAndLeavesNoLogOpen) {
    recordExits();
    launcher.terminate();  // nothing to end

    EXPECT_FALSE(launcher.launchSteam(Constants::prefixPath()));
    EXPECT_EQ(launcher.launchGeneration(), 1);
    EXPECT_FALSE(launcher.hasLogHandle());
    EXPECT_FALSE(launcher.hasGameProcess());
    EXPECT_FALSE(launcher.isRunning());
    EXPECT_EQ(openDescriptorsOn(ProcessLauncher::outputLogPath()), 0);
    EXPECT_TRUE(fs::exists(ProcessLauncher::outputLogPath()));  // emptied before the start
    queue.drain();
    EXPECT_TRUE(exits.empty());
}

TEST_F(ProcessLauncherTest, AnExitNoticeForADestroyedLauncherIsDropped) {
    testsupport::FakeWine wine;
    wine.set("steam.helper_delay", "never");
    wine.set("steam.quit_after", "0.1");
    bool called = false;
    std::optional<ProcessLauncher> shortLived;
    shortLived.emplace();
    shortLived->setOnExit([&](int32_t) { called = true; });
    ASSERT_TRUE(shortLived->launchSteam(Constants::prefixPath()));
    for (int i = 0; i < 2000 && shortLived->isRunning(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_FALSE(shortLived->isRunning());
    shortLived.reset();
    queue.drainUntil([] { return false; }, 500ms);
    EXPECT_FALSE(called);
}
