#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Text rules of the prefix service, kept free of I/O so they can be tested on
// their own. All strings are UTF-8 byte strings.
namespace WineText {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
[[nodiscard]] bool isValidUtf8(std::string_view bytes);

// The first `count` user-perceived characters of valid UTF-8 text (a base
// character with its combining marks, variation selectors, emoji modifiers
// and joiner sequences, a flag's two regional indicators, CR LF); the whole
// text when it is shorter. Never cuts inside a character.
[[nodiscard]] std::string leadingCharacters(std::string_view text, size_t count);

// Removes whitespace and line breaks, ASCII and Unicode, from both ends.
[[nodiscard]] std::string trimWhitespace(std::string_view text);

// Seconds with one decimal, rounded, always with a '.' whatever the C locale
// says (Qt sets the user's locale at start-up).
[[nodiscard]] std::string formatSeconds(double seconds);

// The arguments joined with single blanks, unquoted.
[[nodiscard]] std::string joinArguments(const std::vector<std::string>& arguments);

}  // namespace WineText
