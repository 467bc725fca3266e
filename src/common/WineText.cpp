#include "common/WineText.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace WineText {

namespace {

// Decodes one code point at `pos` of valid UTF-8 and advances `pos`.
char32_t decodeAt(std::string_view s, size_t& pos) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    size_t len = b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
    if (pos + len > s.size()) len = s.size() - pos;
    char32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (size_t i = 1; i < len; ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[pos + i]) & 0x3F);
    pos += len;
    return cp;
}

bool inRange(char32_t c, char32_t lo, char32_t hi) {
    return c >= lo && c <= hi;
}

// Code points that attach to the character before them. Covers the
// combining blocks, Indic vowel signs, variation selectors, emoji modifiers
// and tags; an approximation of the Unicode "Extend" and "SpacingMark" sets
// that is exact for the text Wine and its installers print.
bool extendsPrevious(char32_t c) {
    return inRange(c, 0x0300, 0x036F) || inRange(c, 0x0483, 0x0489) || inRange(c, 0x0591, 0x05BD) ||
           inRange(c, 0x05BF, 0x05C7) || inRange(c, 0x0610, 0x061A) || inRange(c, 0x064B, 0x065F) || c == 0x0670 ||
           inRange(c, 0x06D6, 0x06DC) || inRange(c, 0x06DF, 0x06E4) || inRange(c, 0x06E7, 0x06ED) ||
           inRange(c, 0x0900, 0x0903) || inRange(c, 0x093A, 0x094F) || inRange(c, 0x0951, 0x0957) ||
           inRange(c, 0x0962, 0x0963) || inRange(c, 0x0E31, 0x0E31) || inRange(c, 0x0E34, 0x0E3A) ||
           inRange(c, 0x0E47, 0x0E4E) || inRange(c, 0x1AB0, 0x1AFF) || inRange(c, 0x1DC0, 0x1DFF) || c == 0x200C ||
           c == 0x200D || inRange(c, 0x20D0, 0x20FF) || inRange(c, 0x302A, 0x302F) || inRange(c, 0x3099, 0x309A) ||
           inRange(c, 0xFE00, 0xFE0F) || inRange(c, 0xFE20, 0xFE2F) || inRange(c, 0x1F3FB, 0x1F3FF) ||
           inRange(c, 0xE0020, 0xE007F) || inRange(c, 0xE0100, 0xE01EF);
}

bool isRegionalIndicator(char32_t c) {
    return inRange(c, 0x1F1E6, 0x1F1FF);
}

bool isUnicodeWhitespace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           inRange(c, 0x2000, 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

}  // namespace

bool isValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        if (b0 < 0x80) {
            ++i;
            // ASCII, nearly all of a Wine log, goes 64 bytes at a time, then eight.
            uint64_t words[8];
            while (i + sizeof words <= s.size()) {
                std::memcpy(words, s.data() + i, sizeof words);
                uint64_t any = 0;
                for (const uint64_t w : words) any |= w;
                if ((any & 0x8080808080808080ull) != 0) break;
                i += sizeof words;
            }
            uint64_t word = 0;
            while (i + sizeof word <= s.size()) {
                std::memcpy(&word, s.data() + i, sizeof word);
                if ((word & 0x8080808080808080ull) != 0) break;
                i += sizeof word;
            }
            continue;
        }
        size_t len;
        char32_t min;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2, min = 0x80;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3, min = 0x800;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4, min = 0x10000;
        } else {
            return false;
        }
        if (i + len > s.size()) return false;
        char32_t cp = b0 & (0xFF >> (len + 1));
        for (size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || inRange(cp, 0xD800, 0xDFFF)) return false;
        i += len;
    }
    return true;
}

std::string leadingCharacters(std::string_view text, size_t count) {
    size_t pos = 0;
    size_t taken = 0;
    while (pos < text.size() && taken < count) {
        const char32_t first = decodeAt(text, pos);
        ++taken;
        if (first == '\r' && pos < text.size() && text[pos] == '\n') {
            ++pos;
            continue;
        }
        bool joinNext = false;
        bool pendingFlagHalf = isRegionalIndicator(first);
        while (pos < text.size()) {
            size_t next = pos;
            const char32_t c = decodeAt(text, next);
            if (joinNext || extendsPrevious(c) || (pendingFlagHalf && isRegionalIndicator(c))) {
                pendingFlagHalf = false;
                joinNext = c == 0x200D;
                pos = next;
            } else {
                break;
            }
        }
    }
    return std::string(text.substr(0, pos));
}

std::string trimWhitespace(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size()) {
        size_t next = begin;
        if (!isUnicodeWhitespace(decodeAt(text, next))) break;
        begin = next;
    }
    size_t end = text.size();
    while (end > begin) {
        size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        size_t probe = start;
        if (!isUnicodeWhitespace(decodeAt(text, probe))) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string formatSeconds(double seconds) {
    if (!std::isfinite(seconds)) return "0.0";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, seconds, std::chars_format::fixed, 1);
    if (ec != std::errc()) return "0.0";
    return std::string(buf, end);
}

std::string joinArguments(const std::vector<std::string>& arguments) {
    std::string out;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i) out += ' ';
        out += arguments[i];
    }
    return out;
}

}  // namespace WineText
