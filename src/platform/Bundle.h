#pragma once

#include <string>

namespace platform {

// The application's resource directory.
namespace Bundle {
// macOS: the app's Contents/Resources. Linux: <exe dir>/../share/ferrowick
// when it exists, else <exe dir>/resources.
[[nodiscard]] std::string resourcePath();
// Tests point the bundle at a fixture directory; empty restores the default.
void overrideResourcePath(std::string path);
// The directory holding the running executable ("" when unknown).
[[nodiscard]] std::string executableDirectory();
}  // namespace Bundle

}  // namespace platform
