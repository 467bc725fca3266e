#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "wine/DownloadError.h"

class Logger;

// Fetches, verifies, unpacks and installs the private Wine runtime.
//
// Threads: `install` does its short checks on the caller's thread and hands
// the rest to the downloader's own session thread, which is serial: the
// transfer, every progress call, verification, unpacking, installation and
// every later completion run there, one session after the other. Callbacks
// must not touch the user interface; their owner hops to the main thread.
class WineDownloader {
public:
    using ProgressHandler = std::function<void(double fraction)>;
    using CompletionHandler = std::function<void(const DownloadResult&)>;

    // Where the runtime comes from and goes to. The defaults are the built-in
    // constants; tests and the local demo pass their own.
    struct Settings {
        std::string downloadURL;
        std::string expectedSHA256;
        std::string supportDir;
        std::string wineDir;  // the runtime directory; its executable is wineDir + "/bin/wine"
        std::string archiveName;
        std::chrono::milliseconds transferTimeout{600'000};
        std::chrono::milliseconds idleTimeout{60'000};
        std::string tarPath = "/usr/bin/tar";
        std::string xattrPath = "/usr/bin/xattr";
        // Free bytes of the file system holding a path; absent when unknown.
        std::function<std::optional<uint64_t>(const std::string& path)> freeSpace;
        // Test seam: runs on the session thread right after the archive has
        // been saved, before it is verified.
        std::function<void(const std::string& archivePath)> afterArchiveSaved;
        // Test seam, called only in builds with tests: runs on the session
        // thread at "verified" (before unpacking) and "runtime removed"
        // (before the new one moves in).
        std::function<void(const std::string& point)> checkpoint;

        static Settings defaults();
        [[nodiscard]] std::string archivePath() const { return supportDir + "/" + archiveName; }
        [[nodiscard]] std::string stagingDir() const { return wineDir + ".partial"; }
        [[nodiscard]] std::string wineBin() const { return wineDir + "/bin/wine"; }
    };

    // Decimal 2 GB, unlike the setup checks' 2 GiB (RuntimeValidator::checkDiskSpace): two limits on purpose.
    static constexpr uint64_t kRequiredFreeBytes = 2'000'000'000;
    static constexpr size_t kDigestChunkBytes = 1'048'576;

    WineDownloader();
    explicit WineDownloader(Settings settings);
    // Cancels a running transfer and waits for the session thread to finish
    // its current step; nothing is delivered after that.
    ~WineDownloader();
    WineDownloader(const WineDownloader&) = delete;
    WineDownloader& operator=(const WineDownloader&) = delete;

    // True when the runtime exists and its "--version" starts with the
    // required version. Runs a child process; call it off the main thread.
    [[nodiscard]] bool isInstalled() const;

    // Starts an installation and returns. The disk-space and URL failures are
    // delivered on the caller's thread before this returns; everything else on
    // the session thread. A new call supersedes the previous installation: its
    // transfer is cancelled and only the newest handlers hear an outcome.
    void install(ProgressHandler progress, CompletionHandler completion);

    // Streams the file through SHA-256 in 1 MiB chunks; false when it cannot
    // be read or the lower-case hex digest differs from `expected`.
    [[nodiscard]] static bool verifySHA256(const std::string& path, const std::string& expected);

    // Pure decisions, kept apart from the I/O around them.
    [[nodiscard]] static bool hasEnoughSpace(std::optional<uint64_t> freeBytes);
    [[nodiscard]] static bool versionOutputMatches(const std::string& rawOutput, const std::string& required);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
