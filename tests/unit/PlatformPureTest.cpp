#include <gtest/gtest.h>

#include "platform/MainQueue.h"
#include "platform/Paths.h"
#include "platform/SystemInfo.h"

using platform::MainQueue::post;

TEST(PlatformTest, VersionTextsAndDirectoriesFromTheEnvironment) {
    for (const auto& [text, want] : {std::pair{"14.5", "14.5.0"}, {"6.1.0-18-amd64", "6.1.0"}, {"abc", "0.0.0"}}) {
        const auto v = platform::SystemInfo::parseVersion(text);
        EXPECT_EQ(std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch), want);
    }
    for (const auto& [tmpdir, want] : {std::pair{"/var/tmp", "/var/tmp/"}, {"/var/tmp/", "/var/tmp/"}, {"", "/tmp/"}}) {
        ::setenv("TMPDIR", tmpdir, 1);
        EXPECT_EQ(platform::Paths::temporaryDirectory(), want) << tmpdir;
    }
    ::setenv("HOME", "/some/where/", 1);
    EXPECT_EQ(platform::Paths::homeDirectory(), "/some/where");
    ::unsetenv("HOME");
    EXPECT_NE(platform::Paths::homeDirectory(), "") << "from the password database";
}

TEST(PlatformTest, MainQueueNeverRunsInlineAndKeepsOrder) {
    std::vector<int> ran;
    post([&] { ran.push_back(0); });  // before any poster: waits in the fallback queue
    EXPECT_EQ(platform::ManualQueue::fallback().drain(), 1);
    platform::ManualQueue queue;
    queue.install();
    post([&] {
        ran.push_back(1);
        post([&] { ran.push_back(3); });
    });
    post([&] { ran.push_back(2); });
    EXPECT_EQ(ran, std::vector<int>{0});
    EXPECT_EQ(queue.drain(), 3);
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3}));
    platform::MainQueue::setPoster({});
}
