#include <gtest/gtest.h>

#include "wine/DownloadTransfer.h"
#include "wine/WineDownloader.h"

using DownloadTransfer::URLCheck;

TEST(DownloadDecisionsTest, OnlyHttpsLeavesTheMachine) {
    const std::vector<std::pair<URLCheck, std::vector<const char*>>> cases = {
        {URLCheck::allowed,
         {"https://dl.example.com/w.tar.xz", "HTTPS://Dl.Example.com/x", "http://127.9.8.7:48721/x",
          "http://LOCALHOST/x", "http://[::1]:8080/x"}},
        {URLCheck::insecure,
         {"http://dl.example.com/x", "http://128.0.0.1/x", "http://localhost.example.com/x",
          "http://127.0.0.1.example.com/x", "ftp://127.0.0.1/x"}},
        {URLCheck::invalid, {"file:///etc/passwd", "/downloads/w.tar.xz", "https://", "not a url"}}};
    for (const auto& [expected, urls] : cases)
        for (const char* url : urls) EXPECT_EQ(DownloadTransfer::checkURL(url), expected) << url;
}

TEST(DownloadDecisionsTest, VersionOutputIsTrimmedUtf8StartingWithTheTag) {
    // A cut-off UTF-8 sequence makes the whole text decode to nothing.
    const std::vector<std::pair<bool, std::vector<const char*>>> cases = {
        {true, {"\t\r\n wine-11.4 (Staging) \n\n", "wine-11.4 \xC3\xBC"}},
        {false, {"wine-11.3\n", "WINE-11.4", "version wine-11.4", "", "wine-11.4 \xC3"}}};
    for (const auto& [matches, outputs] : cases)
        for (const char* output : outputs)
            EXPECT_EQ(WineDownloader::versionOutputMatches(output, "wine-11.4"), matches) << output;
}
