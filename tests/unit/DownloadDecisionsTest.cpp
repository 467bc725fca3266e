#include <gtest/gtest.h>

#include "wine/DownloadTransfer.h"

using DownloadTransfer::URLCheck;

TEST(DownloadDecisionsTest, OnlyHttpsLeavesTheMachine) {
    for (const auto& [expected, urls] : std::vector<std::pair<URLCheck, std::vector<const char*>>>{
             {URLCheck::allowed,
              {"https://dl.example.com/w.tar.xz", "HTTPS://Dl.Example.com/x", "http://127.9.8.7:48721/x",
               "http://LOCALHOST/x", "http://[::1]:8080/x"}},
             {URLCheck::insecure,
              {"http://dl.example.com/x", "http://128.0.0.1/x", "http://localhost.example.com/x",
               "http://127.0.0.1.example.com/x", "ftp://127.0.0.1/x"}},
             {URLCheck::invalid, {"file:///etc/passwd", "/downloads/w.tar.xz", "https://", "not a url"}}})
        for (const char* url : urls) EXPECT_EQ(DownloadTransfer::checkURL(url), expected) << url;
}
