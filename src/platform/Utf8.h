#pragma once

#include <string_view>

namespace platform {

// Whether `bytes` decode as UTF-8 text: no stray continuation bytes, no
// overlong forms, no surrogates, nothing above U+10FFFF. Text read from disk or
// from a child process is only used as text when this holds.
[[nodiscard]] bool isValidUtf8(std::string_view bytes);

}  // namespace platform
