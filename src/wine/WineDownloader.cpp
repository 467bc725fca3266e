#include "wine/WineDownloader.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "common/Constants.h"
#include "common/WineText.h"
#include "logging/Logger.h"
#include "platform/Sha256.h"
#include "platform/Subprocess.h"
#include "wine/DownloadTransfer.h"


namespace fs = std::filesystem;

namespace {

// Log lines and error texts, each kept in one place.
constexpr char kLogNoSpace[] = "Not enough disk space for Wine runtime";
constexpr char kLogStarting[] = "Starting Wine runtime download from ";
constexpr char kLogDownloadFailed[] = "Download failed: ";
constexpr char kLogMoveFailed[] = "Failed to move download: ";
constexpr char kLogVerifying[] = "Verifying SHA256...";
constexpr char kLogMismatch[] = "SHA256 mismatch";
constexpr char kLogVerified[] = "SHA256 verified";
constexpr char kLogExtracting[] = "Extracting Wine runtime...";
constexpr char kLogTarFailed[] = "tar failed: ";
constexpr char kLogTarExited[] = "tar exited with ";
constexpr char kLogNoBinary[] = "Wine binary not found in extracted archive";
constexpr char kLogInstallMoveFailed[] = "Failed to move Wine to final location: ";
constexpr char kLogVersionFailed[] = "Wine runtime installed but version check failed";
constexpr char kLogInstalled[] = "Wine runtime installed successfully";
constexpr char kLogSuperseded[] = "Wine runtime download superseded by a newer request";

constexpr char kErrInvalidURL[] = "Invalid download URL";
constexpr char kErrSaveFailed[] = "Failed to save download";
constexpr char kErrTarRun[] = "tar failed to run";
constexpr char kErrTarExit[] = "tar exit code ";
constexpr char kErrNoBinary[] = "Wine binary not found in archive";
constexpr char kErrInstall[] = "Failed to install: ";
constexpr char kErrVersion[] = "Installed but version check failed";

// What a download always leaves free on its volume.
constexpr uint64_t kFreeSpaceMargin = 256ull * 1024 * 1024;

constexpr char kUnpackedWineTree[] = "/Wine Staging.app/Contents/Resources/wine";
constexpr char kSetAside[] = ".old";  // the replaced runtime, until the new one is in place
constexpr char kTempTemplate[] = "/.wine-download-XXXXXX";

std::optional<uint64_t> statvfsFreeBytes(const std::string& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

std::string moveFailure(const std::string& from, const std::string& to, const std::error_code& ec) {
    return "\"" + from + "\" could not be moved to \"" + to + "\": " + ec.message() + " (" + ec.category().name() +
           " error " + std::to_string(ec.value()) + ")";
}

// Removal is best effort: a failure never changes an outcome.
void removeQuietly(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::string trimmed(const std::string& s) {
    constexpr char kSpace[] = " \t\n\r\v\f";
    const auto first = s.find_first_not_of(kSpace);
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(kSpace) - first + 1);
}

}  // namespace

struct WineDownloader::Impl {
    // One install call. Its handlers travel with it, so a superseded session
    // can never call the handlers of a newer one.
    struct Session {
        std::string url;
        ProgressHandler progress;
        CompletionHandler completion;
        std::atomic<bool> superseded{false};
    };

    Settings settings;
    Logger& log;

    std::mutex mutex;  // guards the fields below
    std::condition_variable wake;
    std::deque<std::shared_ptr<Session>> queue;
    std::shared_ptr<Session> current;
    bool stopping = false;
    std::thread worker;

    Impl(Settings s) : settings(std::move(s)), log(Logger::shared()) {}

    void makeCurrent(const std::shared_ptr<Session>& session) {
        std::lock_guard lock(mutex);
        if (current) current->superseded = true;
        current = session;
    }

    void enqueue(const std::shared_ptr<Session>& session) {
        std::lock_guard lock(mutex);
        queue.push_back(session);
        if (!worker.joinable()) worker = std::thread([this] { workerLoop(); });
        wake.notify_one();
    }

    void stop() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
            if (current) current->superseded = true;
            for (auto& s : queue) s->superseded = true;
        }
        wake.notify_one();
        if (worker.joinable()) worker.join();
    }

    // The session thread: sessions run one after the other, never overlapping,
    // because they share the archive path, the staging directory and the runtime.
    void workerLoop() {
        for (;;) {
            std::shared_ptr<Session> session;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return stopping || !queue.empty(); });
                if (queue.empty()) return;
                session = std::move(queue.front());
                queue.pop_front();
            }
            if (!session->superseded) runSession(*session);
        }
    }

    static void complete(Session& session, const DownloadResult& result) {
        if (session.superseded || !session.completion) return;
        session.completion(result);
    }

    void failTransfer(Session& session, const std::string& description, const std::string& full) {
        log.error(kLogDownloadFailed + full);
        complete(session, DownloadError::networkError(description));
    }

    // What a launcher killed during an earlier session left: its temporary
    // download, the archive, the staging directory and a runtime set aside.
    // Sessions are serial, so none of it belongs to a session still running.
    void removeLeftovers() const {
        const std::string prefix = kTempTemplate + 1, stem = prefix.substr(0, prefix.size() - 6);
        std::error_code ec;
        for (fs::directory_iterator it(settings.supportDir, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.size() == prefix.size() && name.rfind(stem, 0) == 0) removeQuietly(it->path().string());
        }
        for (const auto& path : {settings.archivePath(), settings.stagingDir(), settings.wineDir + kSetAside})
            removeQuietly(path);
    }

    void runSession(Session& session) {
        removeLeftovers();
        std::string tempPath = settings.supportDir + kTempTemplate;
        const int fd = ::mkostemp(tempPath.data(), O_CLOEXEC);
        if (fd < 0) {
            const std::string why = std::strerror(errno);
            failTransfer(session, why,
                         "the download file could not be created in \"" + settings.supportDir + "\": " + why);
            return;
        }
        DownloadTransfer::Limits limits;
        limits.total = settings.transferTimeout;
        limits.idle = settings.idleTimeout;
        // The body may use the free space of the download's volume but this
        // margin, so a hostile or broken server can never fill the disk.
        const auto freeBytes =
            settings.freeSpace ? settings.freeSpace(settings.supportDir) : statvfsFreeBytes(settings.supportDir);
        if (freeBytes) limits.maxBodyBytes = *freeBytes > kFreeSpaceMargin ? *freeBytes - kFreeSpaceMargin : 0;
        auto progress = [&session](int64_t written, int64_t expected) {
            if (expected > 0 && session.progress && !session.superseded) {
                session.progress(static_cast<double>(written) / static_cast<double>(expected));
            }
        };
        const auto result = DownloadTransfer::run(session.url, fd, limits, progress, &session.superseded);
        ::close(fd);
        if (session.superseded) {
            removeQuietly(tempPath);
            log.info(kLogSuperseded);
            return;
        }
        if (!result.ok) {
            removeQuietly(tempPath);
            failTransfer(session, result.description, result.fullDescription);
            return;
        }
        finishDownload(session, tempPath);
    }

    void pauseAt([[maybe_unused]] const char* point) const {
#ifdef FERROWICK_TEST_HOOKS
        if (settings.checkpoint) settings.checkpoint(point);
#endif
    }

    void finishDownload(Session& session, const std::string& tempPath) {
        const std::string archive = settings.archivePath();
        const std::string staging = settings.stagingDir();
        std::error_code ec;

        removeQuietly(archive);
        fs::rename(tempPath, archive, ec);
        if (ec) {
            removeQuietly(tempPath);
            log.error(kLogMoveFailed + moveFailure(tempPath, archive, ec));
            complete(session, DownloadError::networkError(kErrSaveFailed));
            return;
        }
        if (settings.afterArchiveSaved) settings.afterArchiveSaved(archive);

        log.info(kLogVerifying);
        if (!verifySHA256(archive, settings.expectedSHA256)) {
            log.error(kLogMismatch);
            removeQuietly(archive);
            complete(session, DownloadError::checksumMismatch());
            return;
        }
        log.info(kLogVerified);
        pauseAt("verified");

        removeQuietly(staging);
        fs::create_directories(staging, ec);

        auto failExtraction = [&](const std::string& logLine, const std::string& text) {
            log.error(logLine);
            removeQuietly(staging);
            removeQuietly(archive);
            complete(session, DownloadError::extractionFailed(text));
        };

        log.info(kLogExtracting);
        platform::SubprocessSpec tar;
        tar.executable = settings.tarPath;
        tar.arguments = {"xf", archive, "-C", staging};
        tar.environment = platform::currentEnvironment();  // tar needs PATH to find its decompressor
        tar.output = platform::OutputMode::Inherit;
        std::string spawnError;
        const auto tarRun = platform::Subprocess::run(tar, &spawnError);
        if (!tarRun) {
            failExtraction(kLogTarFailed + settings.tarPath + ": " + spawnError, kErrTarRun);
            return;
        }
        if (tarRun->exit.status != 0 || tarRun->exit.signaled) {
            const std::string status = std::to_string(tarRun->exit.status);
            failExtraction(kLogTarExited + status, kErrTarExit + status);
            return;
        }

        // Strip the download quarantine mark; where the tool does not exist
        // (anywhere but macOS) the step is skipped.
        platform::SubprocessSpec xattr;
        xattr.executable = settings.xattrPath;
        xattr.arguments = {"-r", "-d", "com.apple.quarantine", staging};
        xattr.environment = tar.environment;
        (void)platform::Subprocess::run(xattr);

        const std::string unpacked = staging + kUnpackedWineTree;
        if (!fs::exists(unpacked + "/bin/wine", ec)) {
            failExtraction(kLogNoBinary, kErrNoBinary);
            return;
        }

        // The old runtime is moved aside in one step rather than deleted in
        // place, so a launcher killed now leaves a whole runtime or none, never
        // a half-deleted one that still answers "--version".
        const std::string aside = settings.wineDir + kSetAside;
        removeQuietly(aside);
        fs::rename(settings.wineDir, aside, ec);
        removeQuietly(settings.wineDir);  // when it could not be moved aside
        pauseAt("runtime removed");
        fs::rename(unpacked, settings.wineDir, ec);
        removeQuietly(aside);
        if (ec) {
            failExtraction(kLogInstallMoveFailed + moveFailure(unpacked, settings.wineDir, ec),
                           kErrInstall + ec.message());
            return;
        }
        removeQuietly(staging);
        removeQuietly(archive);

        if (!isInstalled()) {
            log.error(kLogVersionFailed);
            complete(session, DownloadError::versionMismatch(kErrVersion));
            return;
        }
        log.info(kLogInstalled);
        complete(session, std::nullopt);
    }

    bool isInstalled() const {
        const std::string bin = settings.wineBin();
        std::error_code ec;
        if (!fs::exists(bin, ec)) return false;
        platform::SubprocessSpec child;
        child.executable = bin;
        child.arguments = {"--version"};
        child.environment = {{"PATH", "/usr/bin:/bin"}};
        child.output = platform::OutputMode::PipeStdout;
        const auto run = platform::Subprocess::run(child);
        return run && versionOutputMatches(run->output, Constants::wineVersionRequired);
    }
};

WineDownloader::Settings WineDownloader::Settings::defaults() {
    Settings s;
    s.downloadURL = Constants::wineDownloadURL();
    s.expectedSHA256 = Constants::wineDownloadSHA256();
    s.supportDir = Constants::supportDir();
    s.wineDir = Constants::wineDir();
    s.archiveName = Constants::wineArchiveName;
    return s;
}

WineDownloader::WineDownloader() : WineDownloader(Settings::defaults()) {}

WineDownloader::WineDownloader(Settings settings) : impl_(std::make_unique<Impl>(std::move(settings))) {}

WineDownloader::~WineDownloader() {
    impl_->stop();
}

bool WineDownloader::isInstalled() const {
    return impl_->isInstalled();
}

void WineDownloader::install(ProgressHandler progress, CompletionHandler completion) {
    auto session = std::make_shared<Impl::Session>();
    session->progress = std::move(progress);
    session->completion = std::move(completion);
    impl_->makeCurrent(session);
    const Settings& s = impl_->settings;

    std::error_code ec;
    fs::create_directories(s.supportDir, ec);
    const auto freeBytes = s.freeSpace ? s.freeSpace(s.supportDir) : statvfsFreeBytes(s.supportDir);
    if (!hasEnoughSpace(freeBytes)) {
        impl_->log.error(kLogNoSpace);
        if (session->completion) session->completion(DownloadError::diskSpaceLow());
        return;
    }
    if (DownloadTransfer::checkURL(s.downloadURL) == DownloadTransfer::URLCheck::invalid) {
        if (session->completion) session->completion(DownloadError::networkError(kErrInvalidURL));
        return;
    }
    impl_->log.info(kLogStarting + s.downloadURL);
    session->url = s.downloadURL;
    impl_->enqueue(session);
}

bool WineDownloader::verifySHA256(const std::string& path, const std::string& expected) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    platform::Sha256 hasher;
    std::vector<char> chunk(kDigestChunkBytes);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return false;  // unreadable counts as a mismatch
        }
        if (n == 0) break;
        hasher.update(chunk.data(), static_cast<size_t>(n));
    }
    ::close(fd);
    return hasher.finalizeHex() == expected;
}

bool WineDownloader::hasEnoughSpace(std::optional<uint64_t> freeBytes) {
    return !freeBytes || *freeBytes >= kRequiredFreeBytes;
}

bool WineDownloader::versionOutputMatches(const std::string& rawOutput, const std::string& required) {
    const std::string text = WineText::isValidUtf8(rawOutput) ? trimmed(rawOutput) : std::string();
    return text.starts_with(required);
}
