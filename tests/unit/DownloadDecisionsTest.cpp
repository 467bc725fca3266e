#include <gtest/gtest.h>

#include "wine/DownloadTransfer.h"
#include "wine/WineDownloader.h"

using DownloadTransfer::URLCheck;

TEST(DownloadDecisionsTest, OnlyHttpsLeavesTheMachine) {
    struct Case {
        const char* url;
        URLCheck expected;
    };
    const Case cases[] = {
        {"https://downloads.example.com/downloads/wine-staging-11.4-osx64.tar.xz", URLCheck::allowed},
        {"HTTPS://Downloads.Example.com/x", URLCheck::allowed},
        {"http://127.0.0.1:48721/downloads/wine-staging-11.4-osx64.tar.xz", URLCheck::allowed},
        {"http://127.9.8.7/x", URLCheck::allowed},
        {"http://localhost:8080/x", URLCheck::allowed},
        {"http://LOCALHOST/x", URLCheck::allowed},
        {"http://[::1]:8080/x", URLCheck::allowed},
        {"http://downloads.example.com/x", URLCheck::insecure},
        {"http://128.0.0.1/x", URLCheck::insecure},
        {"http://10.0.0.1/x", URLCheck::insecure},
        {"http://localhost.example.com/x", URLCheck::insecure},
        {"http://127.0.0.1.example.com/x", URLCheck::insecure},
        {"ftp://127.0.0.1/x", URLCheck::insecure},
        {"file:///etc/passwd", URLCheck::invalid},
        {"not a url", URLCheck::invalid},
        {"", URLCheck::invalid},
        {"/downloads/wine.tar.xz", URLCheck::invalid},
        {"https://", URLCheck::invalid},
    };
    for (const auto& c : cases) EXPECT_EQ(DownloadTransfer::checkURL(c.url), c.expected) << c.url;
}

TEST(DownloadDecisionsTest, FreeSpaceThresholdIsTwoBillionBytes) {
    struct Case {
        std::optional<uint64_t> freeBytes;
        bool enough;
    };
    const Case cases[] = {
        {2'000'000'000ull, true}, {1'999'999'999ull, false}, {0ull, false},
        {std::nullopt, true},     {2'147'483'648ull, true},  {UINT64_MAX, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WineDownloader::hasEnoughSpace(c.freeBytes), c.enough)
            << (c.freeBytes ? std::to_string(*c.freeBytes) : "unknown");
    }
}

TEST(DownloadDecisionsTest, VersionOutputIsTrimmedUtf8StartingWithTheTag) {
    struct Case {
        std::string output;
        bool matches;
    };
    const Case cases[] = {
        {"wine-11.4\n", true},
        {"wine-11.4 (Staging)\n", true},
        {"\t\r\n wine-11.4-rc1 \n\n", true},
        {"wine-11.3\n", false},
        {"wine-11\n", false},
        {"WINE-11.4", false},
        {"version wine-11.4", false},
        {"", false},
        {"wine-11.4 \xC3\xBC", true},   // valid UTF-8 after the tag
        {"wine-11.4 \xC3", false},      // cut-off sequence: the text decodes to nothing
        {"wine-11.4 \xFF\xFE", false},  // never UTF-8
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WineDownloader::versionOutputMatches(c.output, "wine-11.4"), c.matches) << c.output;
    }
}
