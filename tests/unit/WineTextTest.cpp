#include <gtest/gtest.h>

#include <clocale>

#include "wine/SetupLog.h"
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
        const char* name;
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"empty", "", true},
        {"ascii with NUL", std::string("a\0b", 3), true},
        {"two, three and four bytes", "\xC3\xBC \xE2\x82\xAC \xF0\x9F\x8D\xB7", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", true},
        {"stray continuation", "a\x80", false},
        {"invalid lead byte", "\xFF\xFE", false},
        {"truncated at end", "ok \xE2\x82", false},
        {"overlong slash", "\xC0\xAF", false},
        {"overlong three-byte", "\xE0\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"lead without continuation", "\xC3(", false},
    };
    for (const auto& c : cases) EXPECT_EQ(WineText::isValidUtf8(c.bytes), c.valid) << c.name;
}

TEST(WineTextTest, LeadingCharactersCountsWhatUsersSee) {
    const std::string eAcute = "e\xCC\x81";                                     // e + combining acute
    const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";                // regional D + E
    const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // woman ZWJ girl
    const std::string thumbs = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";              // thumbs up + skin tone
    struct Case {
        const char* name;
        std::string text;
        size_t count;
        std::string expected;
    };
    const Case cases[] = {
        {"ascii longer", repeat("a", 2000), 500, repeat("a", 500)},
        {"shorter than count", "short", 500, "short"},
        {"exactly count", repeat("b", 500), 500, repeat("b", 500)},
        {"two-byte letters", repeat("\xC3\xBC", 600), 500, repeat("\xC3\xBC", 500)},
        {"combining marks stay attached", repeat(eAcute, 3), 2, repeat(eAcute, 2)},
        {"flags are one character", flag + flag + "x", 2, flag + flag},
        {"a third regional indicator starts anew", flag + "\xF0\x9F\x87\xA9", 2, flag + "\xF0\x9F\x87\xA9"},
        {"joiner sequence", family + "z", 1, family},
        {"emoji modifier", thumbs + thumbs, 1, thumbs},
        {"CR LF is one character", "a\r\nb", 2, "a\r\n"},
        {"zero", "abc", 0, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(WineText::leadingCharacters(c.text, c.count), c.expected) << c.name;
}

TEST(WineTextTest, TrimWhitespace) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"wine-11.4 (Staging)\n", "wine-11.4 (Staging)"},
        {" \t\r\nwine-11.4\r\n\n", "wine-11.4"},
        {"\xC2\xA0wine\xE3\x80\x80", "wine"},  // no-break space, ideographic space
        {"a b", "a b"},
        {"\n\n", ""},
        {"", ""},
        {"\xC3\xBC", "\xC3\xBC"},  // a letter that ends in a continuation byte
    };
    for (const auto& c : cases) EXPECT_EQ(WineText::trimWhitespace(c.in), c.out) << c.in;
}

TEST(WineTextTest, FormatSecondsRoundsToOneDecimalWithAPoint) {
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {{12.345, "12.3"}, {0.0, "0.0"}, {9.96, "10.0"}, {0.04, "0.0"}, {125.75, "125.8"}};
    for (const auto& c : cases) EXPECT_EQ(WineText::formatSeconds(c.seconds), c.text) << c.seconds;
    // A locale with a decimal comma, when the machine has one, changes nothing.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        EXPECT_EQ(WineText::formatSeconds(12.345), "12.3");
        std::setlocale(LC_NUMERIC, "C");
    }
}

TEST(SetupLogFormatTest, SectionsAndSeparators) {
    const std::vector<std::string> args = {"C:\\a b\\setup.exe", "/S"};
    EXPECT_EQ(SetupLog::startedSection(args, "out\n"), "--- wine C:\\a b\\setup.exe /S ---\nout\n");
    EXPECT_EQ(SetupLog::startedSection({"wineboot"}, ""), "--- wine wineboot ---\n");
    EXPECT_EQ(SetupLog::failedSection({"--version"}, "Launch failed: x"), "--- wine --version ---\nLaunch failed: x\n");

    struct Case {
        const char* name;
        std::optional<std::string> previous;
        bool started;
        std::string expected;
    };
    const std::string s = "--- wine x ---\nbody";
    const Case cases[] = {
        {"first section ever", std::nullopt, true, s},
        {"empty log holds no text", std::string(), true, s},
        {"started after text", std::string("old"), true, "old\n" + s},
        {"failed after text", std::string("old"), false, "old" + s},
        {"failed into absent log", std::nullopt, false, s},
    };
    for (const auto& c : cases) EXPECT_EQ(SetupLog::appended(c.previous, s, c.started), c.expected) << c.name;
}
