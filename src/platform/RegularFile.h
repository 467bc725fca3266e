#pragma once

#include <string>

namespace platform {

// Opening the launcher's own files (its logs, its lock) for writing. A file
// planted at such a name must neither be written through nor hold the
// launcher up: a symbolic link is never followed, a FIFO or device is never
// waited on, and anything that is not a regular file counts as a file that
// cannot be opened.
namespace RegularFile {

// A write-only descriptor (close-on-exec) of the regular file at `path`,
// with `flags` (O_APPEND, O_CREAT, O_TRUNC) added; -1 when there is none.
[[nodiscard]] int open(const std::string& path, int flags);
// As open() with O_CREAT | O_TRUNC, after replacing a symbolic link at
// `path` (the link itself, never its target) by a new empty file.
[[nodiscard]] int create(const std::string& path);

}  // namespace RegularFile

}  // namespace platform
