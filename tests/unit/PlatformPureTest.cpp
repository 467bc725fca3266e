#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/MainQueue.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "platform/SystemInfo.h"

using platform::ManualQueue;
using platform::OSVersion;
using platform::SystemInfo::parseVersion;

TEST(SystemInfoTest, ParsesVersionTexts) {
    struct Case {
        const char* text;
        OSVersion want;
    } cases[] = {
        {"14.5", {14, 5, 0}},
        {"14.5.1", {14, 5, 1}},
        {"6.1.0-18-amd64", {6, 1, 0}},
        {"5.15.153.1-microsoft-standard-WSL2", {5, 15, 153}},
        {"15", {15, 0, 0}},
        {"", {0, 0, 0}},
        {"abc", {0, 0, 0}},
        {"13.", {13, 0, 0}},
    };
    for (const auto& c : cases) {
        auto got = parseVersion(c.text);
        EXPECT_EQ(got.major, c.want.major) << c.text;
        EXPECT_EQ(got.minor, c.want.minor) << c.text;
        EXPECT_EQ(got.patch, c.want.patch) << c.text;
    }
}

TEST(SystemInfoTest, ReportsPlausibleMachine) {
    EXPECT_GE(platform::SystemInfo::processorCount(), 1);
    EXPECT_GT(platform::SystemInfo::physicalMemory(), 1ULL << 26);
}

TEST(Sha256Test, KnownVectorsAndIncrementalFeeding) {
    EXPECT_EQ(platform::Sha256::hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(platform::Sha256::hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // The same bytes fed in uneven pieces must give the one-shot digest.
    std::string data;
    for (int i = 0; i < 100000; ++i) data.push_back(static_cast<char>(i * 31));
    platform::Sha256 h;
    size_t pos = 0;
    for (size_t step = 1; pos < data.size(); step = step * 3 + 1) {
        size_t n = std::min(step, data.size() - pos);
        h.update(data.data() + pos, n);
        pos += n;
    }
    EXPECT_EQ(h.finalizeHex(), platform::Sha256::hex(data));
}

TEST(PathsTest, TemporaryDirectoryAlwaysEndsInSlash) {
    struct Case {
        const char* tmpdir;  // nullptr: unset
        const char* want;
    } cases[] = {{"/var/tmp", "/var/tmp/"}, {"/var/tmp/", "/var/tmp/"}, {nullptr, "/tmp/"}, {"", "/tmp/"}};
    for (const auto& c : cases) {
        if (c.tmpdir) {
            setenv("TMPDIR", c.tmpdir, 1);
        } else {
            unsetenv("TMPDIR");
        }
        EXPECT_EQ(platform::Paths::temporaryDirectory(), c.want);
    }
}

TEST(PathsTest, HomeFallsBackToPasswordDatabase) {
    setenv("HOME", "/some/where/", 1);
    EXPECT_EQ(platform::Paths::homeDirectory(), "/some/where");
    unsetenv("HOME");
    EXPECT_FALSE(platform::Paths::homeDirectory().empty());
}

TEST(MainQueueTest, PostNeverRunsInlineAndKeepsOrder) {
    ManualQueue queue;
    queue.install();
    std::vector<int> ran;
    platform::MainQueue::post([&] {
        ran.push_back(1);
        platform::MainQueue::post([&] { ran.push_back(3); });
    });
    platform::MainQueue::post([&] { ran.push_back(2); });
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(queue.drain(), 3);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    platform::MainQueue::setPoster({});
}

TEST(MainQueueTest, PostsFromManyThreadsAllArrive) {
    ManualQueue queue;
    queue.install();
    std::atomic<int> count{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) platform::MainQueue::post([&] { ++count; });
        });
    }
    EXPECT_TRUE(queue.drainUntil([&] { return count == 8000; }, std::chrono::seconds(30)));
    for (auto& t : threads) t.join();
    platform::MainQueue::setPoster({});
}

TEST(MainQueueTest, WithoutPosterWorkWaitsInFallbackQueue) {
    platform::MainQueue::setPoster({});
    bool ran = false;
    platform::MainQueue::post([&] { ran = true; });
    EXPECT_FALSE(ran);
    ManualQueue::fallback().drain();
    EXPECT_TRUE(ran);
}
