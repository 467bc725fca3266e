#include <gtest/gtest.h>

#include <clocale>

#include "wine/WineText.h"

namespace {

std::string repeat(const std::string& unit, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += unit;
    return out;
}

}  // namespace

TEST(WineTextTest, Utf8Validation) {
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {std::string("a\0b", 3), true}, {"\xC3\xBC \xE2\x82\xAC \xF0\x9F\x8D\xB7", true},
        {"\xF4\x8F\xBF\xBF", true},     {"a\x80", false},         // highest code point; stray continuation
        {"ok \xE2\x82", false},         {"\xC0\xAF", false},      // truncated; overlong slash
        {"\xE0\x80\xAF", false},        {"\xED\xA0\x80", false},  // overlong; surrogate
        {"\xF4\x90\x80\x80", false},    {"\xC3(", false},         // above U+10FFFF; lead without continuation
    };
    for (const auto& c : cases) EXPECT_EQ(WineText::isValidUtf8(c.bytes), c.valid) << c.bytes;
}

TEST(WineTextTest, LeadingCharactersCountsWhatUsersSee) {
    const std::string eAcute = "e\xCC\x81";                                     // e + combining acute
    const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";                // regional D + E
    const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // woman ZWJ girl
    const std::string thumbs = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";              // thumbs up + skin tone
    struct Case {
        std::string text;
        size_t count;
        std::string expected;
    };
    const Case cases[] = {
        {"short", 500, "short"},
        {repeat("\xC3\xBC", 600), 500, repeat("\xC3\xBC", 500)},
        {repeat(eAcute, 3), 2, repeat(eAcute, 2)},
        {flag + flag + "x", 2, flag + flag},
        {family + "z", 1, family},
        {thumbs + thumbs, 1, thumbs},
        {"a\r\nb", 2, "a\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(WineText::leadingCharacters(c.text, c.count), c.expected) << c.text;
}

TEST(WineTextTest, TrimAndSeconds) {
    EXPECT_EQ(WineText::trimWhitespace(" \t\r\nwine-11.4 (x)\r\n\n"), "wine-11.4 (x)");
    EXPECT_EQ(WineText::trimWhitespace("\xC2\xA0wine\xE3\x80\x80"), "wine");  // no-break and ideographic spaces
    EXPECT_EQ(WineText::trimWhitespace("\xC3\xBC"), "\xC3\xBC");              // ends in a continuation byte
    EXPECT_EQ(WineText::trimWhitespace("\n\n"), "");
    // Rounded to one decimal with a point, even under a locale with a decimal comma.
    const bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    EXPECT_EQ(WineText::formatSeconds(12.345), "12.3");
    EXPECT_EQ(WineText::formatSeconds(9.96), "10.0");
    EXPECT_EQ(WineText::formatSeconds(0.04), "0.0");
    if (comma) std::setlocale(LC_NUMERIC, "C");
}
