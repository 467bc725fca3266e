#include <gtest/gtest.h>

#include "platform/Sha256.h"
#include "wine/DownloadTransfer.h"

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

// The runtime's digest is compared as lower-case hex text.
TEST(DownloadDecisionsTest, DigestsAreLowerCaseHex) {
    EXPECT_EQ(platform::Sha256::hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(platform::Sha256::hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}
