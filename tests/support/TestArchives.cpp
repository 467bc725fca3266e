#include "support/TestArchives.h"

#include <cstdint>
#include <filesystem>
#include <stdexcept>

#include "platform/Sha256.h"
#include "platform/Subprocess.h"
#include "support/TestHome.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

constexpr size_t kPayloadBytes = 384 * 1024;
constexpr char kTreeRoot[] = "Wine Staging.app";
constexpr char kWineInTree[] = "/Wine Staging.app/Contents/Resources/wine";

std::string kindName(ArchiveKind kind) {
    switch (kind) {
    case ArchiveKind::good:
        return "good";
    case ArchiveKind::oldVersion:
        return "old-version";
    case ArchiveKind::noWineBinary:
        return "no-wine-binary";
    case ArchiveKind::truncatedXz:
        return "truncated-xz";
    case ArchiveKind::gzipUnderXzName:
        return "gzip-under-xz-name";
    }
    return "unknown";
}

void writeWineScript(const std::string& path, const std::string& versionLine) {
    writeFile(path,
              "#!/bin/sh\n# Test fixture standing in for the Wine runtime.\n"
              "echo 'wine: fixture warning on stderr' >&2\n"
              "echo '" +
                  versionLine + "'\n");
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

void runTar(const std::vector<std::string>& arguments) {
    platform::SubprocessSpec tar;
    tar.executable = "/usr/bin/tar";
    tar.arguments = arguments;
    tar.environment = {{"PATH", "/usr/bin:/bin"}};
    tar.output = platform::OutputMode::Pipe;
    std::string error;
    auto r = platform::Subprocess::run(tar, &error);
    if (!r || r->exit.status != 0 || r->exit.signaled) {
        throw std::runtime_error("tar failed: " + error + (r ? r->output : std::string()));
    }
}

}  // namespace

void writeFakeRuntime(const std::string& wineDir, const std::string& versionLine, const std::string& marker) {
    writeWineScript(wineDir + "/bin/wine", versionLine);
    writeFile(wineDir + "/share/fixture-marker", marker);
}

TestArchive buildWineArchive(const std::string& workDir, ArchiveKind kind) {
    const std::string name = kindName(kind);
    const std::string tree = workDir + "/tree-" + name;
    fs::remove_all(tree);
    TestArchive archive;
    archive.marker = "fixture runtime " + name;
    const std::string wine = tree + kWineInTree;
    if (kind == ArchiveKind::noWineBinary) {
        writeFile(wine + "/bin/wineserver", "#!/bin/sh\nexit 0\n");
        writeFile(wine + "/share/fixture-marker", archive.marker);
    } else {
        writeFakeRuntime(wine, kind == ArchiveKind::oldVersion ? "wine-11.3" : "wine-11.4 (Staging)", archive.marker);
    }
    // Incompressible bulk, so that transfers take many blocks and a cut
    // archive really is cut in the middle of its data.
    std::string payload(kPayloadBytes, '\0');
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (auto& byte : payload) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        byte = static_cast<char>(x);
    }
    writeFile(wine + "/lib/fixture-payload.bin", payload);
    // Something beside the Wine tree that must not end up in the runtime.
    writeFile(tree + "/Wine Staging.app/Contents/Info.plist", "<plist/>\n");

    archive.path = workDir + "/" + name + "/wine-staging-11.4-osx64.tar.xz";
    fs::create_directories(fs::path(archive.path).parent_path());
    const std::string flags = kind == ArchiveKind::gzipUnderXzName ? "-czf" : "-cJf";
    runTar({flags, archive.path, "-C", tree, kTreeRoot});
    if (kind == ArchiveKind::truncatedXz) fs::resize_file(archive.path, fs::file_size(archive.path) / 2);
    archive.sha256 = platform::Sha256::hex(readFile(archive.path));
    return archive;
}

}  // namespace testsupport
