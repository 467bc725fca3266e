#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "logging/Logger.h"
#include "platform/MainQueue.h"
#include "process/ProcessLauncher.h"
#include "process/SteamSessionMonitor.h"
#include "support/RecordingSteamHost.h"
#include "support/TestHome.h"

using namespace std::chrono_literals;

namespace {

// A probe the test answers by hand, so it can act while a poll is probing.
struct HeldProbe {
    std::atomic<int> calls{0};
    std::promise<bool> answer;
    std::shared_future<bool> future = answer.get_future().share();
    std::function<bool()> fn() {
        return [this] {
            ++calls;
            return future.get();
        };
    }
};

class SteamSessionSequencingTest : public ::testing::Test {
protected:
    SteamSessionSequencingTest() { queue.install(); }
    ~SteamSessionSequencingTest() override { platform::MainQueue::setPoster({}); }

    int logCount(const std::string& line) {
        const std::string log = testsupport::readFile(Logger::logPath());
        int n = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
        return n;
    }

    testsupport::TestHome home;
    platform::ManualQueue queue;
    ProcessLauncher launcher;
    testsupport::RecordingSteamHost host;
    HeldProbe wine;
    std::atomic<int> readyCalls{0};
    SteamSessionMonitor monitor{launcher, host, [this] {
                                    SteamSessionMonitor::Options o;
                                    o.isWineRunning = wine.fn();
                                    o.isSteamReady = [this] {
                                        ++readyCalls;
                                        return true;
                                    };
                                    return o;
                                }()};
};

}  // namespace

TEST_F(SteamSessionSequencingTest, APollNeverStartsWhileThePreviousOneIsProbing) {
    monitor.updateSteamStatus();
    for (int i = 0; i < 500 && wine.calls == 0; ++i) std::this_thread::sleep_for(10ms);
    monitor.updateSteamStatus();
    monitor.updateSteamStatus();
    EXPECT_TRUE(monitor.isBusy());
    EXPECT_EQ(wine.calls, 1);

    wine.answer.set_value(true);  // ready with Wine alive: the readiness probe follows
    ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy(); }, 20s));
    EXPECT_EQ(wine.calls, 1);
    EXPECT_EQ(readyCalls, 1);
    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::running);
    EXPECT_EQ(host.screens, std::vector<std::string>{"running"});
}

TEST_F(SteamSessionSequencingTest, APollOvertakenByTheExitNoticeIsDropped) {
    monitor.setupFinished(true, true);
    ASSERT_EQ(monitor.fields().steamPhase, SteamPhase::running);
    monitor.updateSteamStatus();
    for (int i = 0; i < 500 && wine.calls == 0; ++i) std::this_thread::sleep_for(10ms);

    monitor.onSteamClosed();  // the exit notice arrives while the poll probes
    // The server still lingered when it was probed; taken as current, the
    // answer would bring the session straight back to running.
    wine.answer.set_value(true);
    ASSERT_TRUE(queue.drainUntil([&] { return !monitor.isBusy(); }, 20s));

    EXPECT_EQ(monitor.fields().steamPhase, SteamPhase::ready);
    EXPECT_EQ(host.screens, (std::vector<std::string>{"running", "ready"}));
    EXPECT_EQ(logCount("] [INFO] Steam closed\n"), 1);
    EXPECT_EQ(readyCalls, 0);
}
