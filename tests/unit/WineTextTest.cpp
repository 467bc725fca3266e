#include <gtest/gtest.h>

#include <clocale>

#include "common/WineText.h"

TEST(WineTextTest, Utf8Validation) {
    // Highest code point; sequences after and between long ASCII runs.
    for (const std::string& bytes : {std::string("a\0b", 3), std::string("\xC3\xBC \xE2\x82\xAC \xF0\x9F\x8D\xB7"),
                                     std::string("\xF4\x8F\xBF\xBF"), std::string("01234567\xC3\xBCghijklmn"),
                                     std::string("0123456\xE2\x82\xACghijklmnopqr")})
        EXPECT_TRUE(WineText::isValidUtf8(bytes)) << bytes;
    // Stray continuation, truncated, overlong slash, overlong, surrogate, above U+10FFFF, lead without
    // continuation; then faults after and between long ASCII runs.
    for (const char* bytes : {"a\x80", "ok \xE2\x82", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                              "\xC3(", "0123456789abcdef\x80", "0123456789abcde\xC3", "abcdefgh\xFFghijklmn"})
        EXPECT_FALSE(WineText::isValidUtf8(bytes)) << bytes;
    // Runs longer than 64 bytes on either side.
    const std::string run(70, 'r');
    EXPECT_TRUE(WineText::isValidUtf8(run + "\xC3\xBC" + run + "\xE2\x82\xAC" + run));
    EXPECT_FALSE(WineText::isValidUtf8(run + run + "\xFF" + run));
    EXPECT_FALSE(WineText::isValidUtf8(run + "\xE2\x82" + run));
}

TEST(WineTextTest, LeadingCharactersAsUsersSeeThemTrimAndSeconds) {
    const std::string eAcute = "e\xCC\x81";                                     // e + combining acute
    const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";                // regional D + E
    const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // woman ZWJ girl
    const std::string thumbs = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";              // thumbs up + skin tone
    std::string umlauts;
    for (int i = 0; i < 600; ++i) umlauts += "\xC3\xBC";
    const std::tuple<std::string, size_t, std::string> cases[] = {{umlauts, 500, umlauts.substr(0, 1000)},
                                                                  {eAcute + eAcute + eAcute, 2, eAcute + eAcute},
                                                                  {flag + flag + "x", 2, flag + flag},
                                                                  {family + "z", 1, family},
                                                                  {thumbs + thumbs, 1, thumbs},
                                                                  {"a\r\nb", 2, "a\r\n"}};
    for (const auto& [text, count, expected] : cases) EXPECT_EQ(WineText::leadingCharacters(text, count), expected);
    EXPECT_EQ(WineText::trimWhitespace(" \t\r\n\xC2\xA0wine-11.4 (x)\xE3\x80\x80\r\n"),
              "wine-11.4 (x)");                                   // no-break, ideographic
    EXPECT_EQ(WineText::trimWhitespace("\xC3\xBC"), "\xC3\xBC");  // ends in a continuation byte
    // Rounded to one decimal with a point, even under a locale with a decimal comma.
    const bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    EXPECT_EQ(WineText::formatSeconds(12.345) + " " + WineText::formatSeconds(9.96), "12.3 10.0");
    if (comma) std::setlocale(LC_NUMERIC, "C");
}
