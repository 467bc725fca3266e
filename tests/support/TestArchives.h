#pragma once

#include <string>

namespace testsupport {

// Runtime archives built by the tests with the system's /usr/bin/tar. The
// `wine` inside is a test fixture: a /bin/sh script (it runs with
// PATH=/usr/bin:/bin only) that writes a warning to stderr and its version
// line to stdout, standing in for the real Wine runtime, which cannot run here.
enum class ArchiveKind {
    good,             // wine prints "wine-11.4 (Staging)"
    oldVersion,       // wine prints "wine-11.3"
    noWineBinary,     // the tree lacks bin/wine
    truncatedXz,      // the good archive cut in half
    gzipUnderXzName,  // the good tree, gzip-compressed, under the .tar.xz name
};

struct TestArchive {
    std::string path;
    std::string sha256;
    std::string marker;  // contents of the tree's "share/fixture-marker"
};

// Builds one archive of `kind` inside `workDir` (created when missing).
TestArchive buildWineArchive(const std::string& workDir, ArchiveKind kind);

// Writes an installed-runtime stand-in at `wineDir` whose wine prints
// `versionLine`, with `marker` in share/fixture-marker.
void writeFakeRuntime(const std::string& wineDir, const std::string& versionLine, const std::string& marker);

}  // namespace testsupport
