#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "controller/SteamSessionMonitor.h"
#include "platform/MainQueue.h"
#include "process/ProcessLauncher.h"
#include "support/RecordingSteamHost.h"
#include "support/TestHome.h"

using namespace std::chrono_literals;

namespace {

// The session with a Wine probe the test answers by hand, so it can act while a poll is probing.
class SteamSessionSequencingTest : public ::testing::Test {
protected:
    SteamSessionSequencingTest() { queue.install(); }
    ~SteamSessionSequencingTest() override { platform::MainQueue::setPoster({}); }
    void pollUntilProbing() {
        monitor.updateSteamStatus();
        for (int i = 0; i < 500 && wineCalls == 0; ++i) std::this_thread::sleep_for(10ms);
        ASSERT_EQ(wineCalls, 1);
    }

    testsupport::TestHome home;
    platform::ManualQueue queue;
    ProcessLauncher launcher;
    testsupport::RecordingSteamHost host;
    std::atomic<int> wineCalls{0}, readyCalls{0};
    std::promise<bool> wineAnswer;
    std::shared_future<bool> wine = wineAnswer.get_future().share();
    LauncherActivity activity;
    SteamSessionMonitor monitor{launcher, host, [this] {
                                    SteamSessionMonitor::Options o;
                                    o.activity = &activity;
                                    o.isWineRunning = [this] { return ++wineCalls, wine.get(); };
                                    o.isSteamReady = [this] { return ++readyCalls, true; };
                                    return o;
                                }()};
};

}  // namespace

TEST_F(SteamSessionSequencingTest, APollNeverStartsWhileThePreviousOneIsProbing) {
    pollUntilProbing();
    monitor.updateSteamStatus();
    monitor.updateSteamStatus();
    EXPECT_EQ(wineCalls, 1);

    wineAnswer.set_value(true);  // ready with Wine alive: the readiness probe follows
    ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy(); }, 20s));
    EXPECT_EQ(wineCalls, 1);
    EXPECT_EQ(readyCalls, 1);
    EXPECT_EQ(host.screens, std::vector<std::string>{"running"});
}

TEST_F(SteamSessionSequencingTest, APollOvertakenByTheExitNoticeIsDropped) {
    monitor.setupFinished(true, true);
    pollUntilProbing();
    monitor.onSteamClosed();  // the exit notice arrives while the poll probes
    // The server still lingered when it was probed; taken as current, the
    // answer would bring the session straight back to running.
    wineAnswer.set_value(true);
    ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy(); }, 20s));
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::ready);
    EXPECT_EQ(host.screens, (std::vector<std::string>{"running", "ready"}));
    EXPECT_EQ(readyCalls, 0);
}

// Setup begins while a poll probes: that poll's answers are dropped, and no
// further poll probes until setup is over.
TEST_F(SteamSessionSequencingTest, PollsStandAsideWhileAnotherActivityRuns) {
    pollUntilProbing();
    ASSERT_TRUE(activity.tryEnter(LauncherActivity::Kind::settingUp));
    wineAnswer.set_value(true);
    ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy(); }, 20s));
    monitor.updateSteamStatus();
    monitor.onMainButton();
    EXPECT_FALSE(monitor.isBusy());
    EXPECT_EQ(wineCalls, 1);
    EXPECT_EQ(readyCalls, 0);
    EXPECT_TRUE(host.screens.empty());
}
