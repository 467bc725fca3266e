#include <gtest/gtest.h>

#include "platform/Utf8.h"

TEST(Utf8Test, AcceptsTextAndRejectsMalformedBytes) {
    using namespace std::string_literals;
    struct Case {
        std::string bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"wine-11.4\n", true},
        {"\0 embedded"s, true},
        {"\xC3\xBC\xC3\x9F", true},   // two-byte
        {"\xE6\x97\xA5", true},       // three-byte
        {"\xF0\x9F\x8D\xB7", true},   // four-byte
        {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
        {"\xFF", false},              // never valid
        {"\x80", false},              // stray continuation
        {"\xC3", false},              // truncated at the end
        {"\xC3x", false},             // bad continuation
        {"\xC0\xAF", false},          // overlong "/"
        {"\xE0\x80\xAF", false},      // overlong three-byte
        {"\xF0\x80\x80\xAF", false},  // overlong four-byte
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xE6\x97", false},          // truncated three-byte
        {"ok \xF0\x9F\x8D", false},   // truncated four-byte after text
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::isValidUtf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
    }
}
