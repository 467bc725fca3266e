#pragma once

#include <string>
#include <string_view>

// The drop zone's judgement of a dragged file, by its name alone, apart from
// the toolkit so it can be checked without a window. Paths are UTF-8.
namespace InstallerDrop {

struct Judgement {
    bool accepted = false;     // the extension is "exe" in any letter case
    std::string errorMessage;  // the wrong-format message; empty when accepted
};

// The extension of the last path component as written ("" when none);
// trailing slashes of a folder path are ignored.
[[nodiscard]] std::string extensionOf(std::string_view path);
[[nodiscard]] Judgement judge(std::string_view path);

}  // namespace InstallerDrop
