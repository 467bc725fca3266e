#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <optional>
#include <thread>

#include "common/Constants.h"
#include "platform/MainQueue.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 2000 && !condition(); ++i) std::this_thread::sleep_for(10ms);
    return condition();
}

struct ProcessLauncherTest : ::testing::Test {
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

    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    ProcessLauncher launcher;
    std::vector<int32_t> exits;
};

}  // namespace

TEST_F(ProcessLauncherTest, RunsSteamInTheSafeEnvironmentOnceAtATimeAndOnlyWithARuntime) {
    testsupport::writeFile(ProcessLauncher::outputLogPath(), "an older launch\n");
    wine.configure({{"steam.helper_delay", "never"},
                    {"steam.output", "latest\n"},
                    {"steam.quit_after", "0.2"},
                    {"steam.exit", "7"}});
    ASSERT_TRUE(launch());
    EXPECT_FALSE(launch()) << "a second launch while the first runs";
    ASSERT_TRUE(exitHandled());
    EXPECT_EQ(exits, std::vector<int32_t>{7});
    EXPECT_TRUE(testsupport::readFile(ProcessLauncher::outputLogPath()) == "latest\n" && !launcher.hasLogHandle());
    const auto calls = wine.calls("wine");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, std::vector<std::string>{"C:\\Program Files (x86)\\Steam\\steam.exe"});
    EXPECT_EQ(calls[0].env.at("WINEPREFIX"), home.home() + "/Library/Application Support/Ferrowick/prefix");
    fs::permissions(Constants::wineBin(), fs::perms::owner_read);  // not even root may run it
    EXPECT_FALSE(launch() || launcher.hasGameProcess() || launcher.hasLogHandle()) << "a failed start keeps nothing";
    fs::remove(Constants::wineBin());
    EXPECT_FALSE(launch() || launcher.hasGameProcess()) << "no runtime, no launch";
}

// The exit notice of an older launch, or of a destroyed launcher, waiting in the main queue is dropped.
TEST_F(ProcessLauncherTest, StaleExitNoticesAreDropped) {
    wine.set("steam.quit_after", "0.1");
    std::optional<ProcessLauncher> shortLived(std::in_place);
    shortLived->setOnExit([&](int32_t status) { exits.push_back(status); });
    ASSERT_TRUE(shortLived->launchSteam(Constants::prefixPath()) && launch());
    ASSERT_TRUE(waitFor([&] { return !shortLived->isRunning() && !launcher.isRunning() && queue.pending() == 2; }));
    shortLived.reset();
    wine.set("steam.quit_after", "0");  // never
    ASSERT_TRUE(launch());
    queue.drain();
    EXPECT_TRUE(exits.empty());
    EXPECT_TRUE(launcher.hasGameProcess() && launcher.hasLogHandle());
    launcher.terminate();
    ASSERT_TRUE(exitHandled());
    EXPECT_EQ(exits.size(), 1u);  // the second launch's own exit, once
}

// A link planted at the Steam output log's name is replaced by the log, never written through; a FIFO there never
// holds the launch up (Steam then writes to the launcher's own output).
TEST_F(ProcessLauncherTest, APlantedOutputLogIsNeitherWrittenThroughNorWaitedOn) {
    const std::string notes = home.home() + "/notes.txt", log = ProcessLauncher::outputLogPath();
    testsupport::writeFile(notes, "the user's notes\n");
    fs::create_directories(Constants::supportDir());
    fs::create_symlink(notes, log);
    wine.configure({{"steam.helper_delay", "never"}, {"steam.quit_after", "0.2"}});
    ASSERT_TRUE(launch() && exitHandled());
    EXPECT_EQ(testsupport::readFile(notes), "the user's notes\n");
    EXPECT_TRUE(!fs::is_symlink(log) && testsupport::readFile(log) == "fake steam client starting\n");
    fs::remove(log);
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
    auto launched = std::async(std::launch::async, [this] { return launch(); });
    if (launched.wait_for(20s) != std::future_status::ready) {
        ADD_FAILURE() << "the launch waits for a reader of its output log";
        ::close(::open(log.c_str(), O_RDONLY | O_NONBLOCK));  // lets it go
    }
    ASSERT_TRUE(launched.get() && exitHandled());
    EXPECT_EQ(fs::status(log).type(), fs::file_type::fifo);
}
