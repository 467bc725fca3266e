#pragma once

#include <string>

namespace platform {

namespace Paths {
// $HOME, else the password database's entry for the user; no trailing "/".
[[nodiscard]] std::string homeDirectory();
// $TMPDIR, else "/tmp"; always ends in "/".
[[nodiscard]] std::string temporaryDirectory();
}  // namespace Paths

}  // namespace platform
