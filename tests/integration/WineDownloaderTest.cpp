#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "logging/Logger.h"
#include "platform/Sha256.h"
#include "platform/Subprocess.h"
#include "support/HttpTestServer.h"
#include "support/TestArchives.h"
#include "support/TestHome.h"
#include "support/Undeletable.h"
#include "wine/WineDownloader.h"

namespace fs = std::filesystem;
using testsupport::ArchiveKind;
using testsupport::HttpTestServer;
using Kind = DownloadError::Kind;

namespace {

constexpr auto kHangGuard = std::chrono::seconds(120);

// What one install call reported, and on which threads.
struct Outcome {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<double> progress;
    std::vector<DownloadResult> results;
    std::vector<std::thread::id> callbackThreads;

    WineDownloader::ProgressHandler progressHandler() {
        return [this](double f) {
            std::lock_guard lock(mutex);
            progress.push_back(f);
            callbackThreads.push_back(std::this_thread::get_id());
        };
    }
    WineDownloader::CompletionHandler completionHandler() {
        return [this](const DownloadResult& r) {
            std::lock_guard lock(mutex);
            results.push_back(r);
            callbackThreads.push_back(std::this_thread::get_id());
            cv.notify_all();
        };
    }
    bool waitForResult() {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, kHangGuard, [&] { return !results.empty(); });
    }
};

// "[LEVEL] message" for every line of the launcher log, without the time.
std::vector<std::string> logLines() {
    std::vector<std::string> out;
    std::istringstream in(testsupport::readFile(Logger::logPath()));
    for (std::string l; std::getline(in, l);) out.push_back(l.size() > 15 ? l.substr(15) : l);
    return out;
}

bool logHas(const std::string& line) {
    for (const auto& l : logLines())
        if (l == line) return true;
    return false;
}

bool logHasPrefix(const std::string& prefix) {
    for (const auto& l : logLines())
        if (l.rfind(prefix, 0) == 0) return true;
    return false;
}

std::vector<std::string> leftoverDownloads(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.path().filename().string().rfind(".wine-download-", 0) == 0) out.push_back(e.path());
    return out;
}

HttpTestServer::Options serving(const std::string& file, HttpTestServer::Mode mode = HttpTestServer::Mode::serve) {
    HttpTestServer::Options o;
    o.filePath = file;
    o.mode = mode;
    return o;
}

class WineDownloaderTest : public ::testing::Test {
protected:
    testsupport::TestHome home;
    std::string support = home.supportDir();
    std::string wineDir = support + "/wine";
    std::string archivePath = support + "/wine-staging-11.4-osx64.tar.xz";
    std::string staging = wineDir + ".partial";
    std::string work = home.root() + "/archives";

    WineDownloader::Settings settingsFor(const std::string& url, const std::string& sha) const {
        WineDownloader::Settings s;
        s.downloadURL = url;
        s.expectedSHA256 = sha;
        s.supportDir = support;
        s.wineDir = wineDir;
        s.archiveName = "wine-staging-11.4-osx64.tar.xz";
        s.freeSpace = [](const std::string&) { return std::optional<uint64_t>(100'000'000'000ull); };
        return s;
    }

    void expectNothingLeftBehind() {
        EXPECT_FALSE(fs::exists(archivePath)) << "archive left behind";
        EXPECT_FALSE(fs::exists(staging)) << "staging directory left behind";
        EXPECT_TRUE(leftoverDownloads(support).empty()) << "temporary download left behind";
    }
};

// One row per outcome of an installation driven through the loopback server.
struct Row {
    const char* name;
    ArchiveKind archive;
    HttpTestServer::Mode mode;
    uint64_t faultAfterBytes;
    bool wrongDigest;
    bool missingTar;
    std::optional<Kind> expected;  // nullopt: success
    std::string expectedMessage;   // "*" accepts any text
    std::vector<std::string> expectedLog;
    bool expectProgress;
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << r.name;
}

class InstallOutcomeTest : public WineDownloaderTest, public ::testing::WithParamInterface<Row> {};

const std::string kStart = "[INFO] Starting Wine runtime download from ";
const std::string kVerifying = "[INFO] Verifying SHA256...";
const std::string kVerified = "[INFO] SHA256 verified";
const std::string kExtracting = "[INFO] Extracting Wine runtime...";

TEST_P(InstallOutcomeTest, ReportsTheOutcomeLogsItAndCleansUp) {
    const Row& row = GetParam();
    const auto archive = testsupport::buildWineArchive(work, row.archive);
    // A runtime from an earlier install, which only a successful install may replace.
    testsupport::writeFakeRuntime(wineDir, "wine-11.2", "previous runtime");

    HttpTestServer::Options o;
    o.filePath = archive.path;
    o.mode = row.mode;
    o.faultAfterBytes = row.faultAfterBytes;
    HttpTestServer server(o);
    const std::string url = row.mode == HttpTestServer::Mode::redirect ? server.url("/moved/elsewhere") : server.url();
    auto settings = settingsFor(url, row.wrongDigest ? platform::Sha256::hex("other") : archive.sha256);
    if (row.missingTar) settings.tarPath = home.root() + "/no such dir/tar";

    Outcome outcome;
    {
        WineDownloader downloader(settings);
        downloader.install(outcome.progressHandler(), outcome.completionHandler());
        ASSERT_TRUE(outcome.waitForResult());
    }
    ASSERT_EQ(outcome.results.size(), 1u);
    const DownloadResult& result = outcome.results[0];
    if (!row.expected) {
        EXPECT_FALSE(result.has_value()) << result->message;
        EXPECT_EQ(testsupport::readFile(wineDir + "/share/fixture-marker"), archive.marker);
        EXPECT_FALSE(fs::exists(wineDir + "/Info.plist"));
        EXPECT_TRUE(logHas("[INFO] Wine runtime installed successfully"));
    } else {
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->kind, *row.expected);
        if (row.expectedMessage != "*") {
            EXPECT_EQ(result->message, row.expectedMessage);
        }
        if (*row.expected != Kind::versionMismatch) {
            EXPECT_EQ(testsupport::readFile(wineDir + "/share/fixture-marker"), "previous runtime");
        }
    }
    EXPECT_TRUE(logHas(kStart + url));
    for (const auto& line : row.expectedLog) EXPECT_TRUE(logHasPrefix(line)) << "missing log line: " << line;
    if (row.expectProgress) {
        ASSERT_FALSE(outcome.progress.empty());
        for (size_t i = 1; i < outcome.progress.size(); ++i) EXPECT_LE(outcome.progress[i - 1], outcome.progress[i]);
        EXPECT_GT(outcome.progress.front(), 0.0);
        EXPECT_DOUBLE_EQ(outcome.progress.back(), 1.0);
    } else if (row.mode == HttpTestServer::Mode::chunked || row.mode == HttpTestServer::Mode::closeDelimited) {
        EXPECT_TRUE(outcome.progress.empty()) << "progress without a known length";
    }
    for (auto id : outcome.callbackThreads) EXPECT_NE(id, std::this_thread::get_id());
    expectNothingLeftBehind();
}

using M = HttpTestServer::Mode;
INSTANTIATE_TEST_SUITE_P(
    LoopbackServer, InstallOutcomeTest,
    ::testing::Values(
        Row{"Success",
            ArchiveKind::good,
            M::serve,
            0,
            false,
            false,
            std::nullopt,
            "",
            {kVerifying, kVerified, kExtracting},
            true},
        Row{"SlowDripReportsGrowingProgress",
            ArchiveKind::good,
            M::slowDrip,
            0,
            false,
            false,
            std::nullopt,
            "",
            {},
            true},
        Row{"ChunkedHasNoProgress", ArchiveKind::good, M::chunked, 0, false, false, std::nullopt, "", {}, false},
        Row{"CloseDelimitedHasNoProgress",
            ArchiveKind::good,
            M::closeDelimited,
            0,
            false,
            false,
            std::nullopt,
            "",
            {},
            false},
        Row{"RedirectIsFollowed", ArchiveKind::good, M::redirect, 0, false, false, std::nullopt, "", {}, true},
        Row{"GzipUnderXzNameIsRecognisedByTar",
            ArchiveKind::gzipUnderXzName,
            M::serve,
            0,
            false,
            false,
            std::nullopt,
            "",
            {},
            true},
        Row{"ErrorPageIsADigestMismatch",
            ArchiveKind::good,
            M::notFound,
            0,
            false,
            false,
            Kind::checksumMismatch,
            "",
            {kVerifying, "[ERROR] SHA256 mismatch"},
            false},
        Row{"DigestMismatch",
            ArchiveKind::good,
            M::serve,
            0,
            true,
            false,
            Kind::checksumMismatch,
            "",
            {"[ERROR] SHA256 mismatch"},
            false},
        Row{"ResetMidTransfer",
            ArchiveKind::good,
            M::resetAfter,
            100'000,
            false,
            false,
            Kind::networkError,
            "*",
            {"[ERROR] Download failed: "},
            false},
        Row{"TruncatedXzFailsInTar",
            ArchiveKind::truncatedXz,
            M::serve,
            0,
            false,
            false,
            Kind::extractionFailed,
            "*",
            {kExtracting, "[ERROR] tar exited with "},
            false},
        Row{"TarCannotStart",
            ArchiveKind::good,
            M::serve,
            0,
            false,
            true,
            Kind::extractionFailed,
            "tar failed to run",
            {"[ERROR] tar failed: "},
            false},
        Row{"NoWineBinary",
            ArchiveKind::noWineBinary,
            M::serve,
            0,
            false,
            false,
            Kind::extractionFailed,
            "Wine binary not found in archive",
            {"[ERROR] Wine binary not found in extracted archive"},
            false},
        Row{"VersionMismatchAfterInstall",
            ArchiveKind::oldVersion,
            M::serve,
            0,
            false,
            false,
            Kind::versionMismatch,
            "Installed but version check failed",
            {"[ERROR] Wine runtime installed but version check failed"},
            false}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST_F(WineDownloaderTest, TarExitStatusIsReportedInTheErrorAndTheLog) {
    const auto archive = testsupport::buildWineArchive(work, ArchiveKind::truncatedXz);
    HttpTestServer server(serving(archive.path));
    Outcome outcome;
    WineDownloader downloader(settingsFor(server.url(), archive.sha256));
    downloader.install(outcome.progressHandler(), outcome.completionHandler());
    ASSERT_TRUE(outcome.waitForResult());
    ASSERT_TRUE(outcome.results[0]);
    const std::string& message = outcome.results[0]->message;
    ASSERT_EQ(message.rfind("tar exit code ", 0), 0u) << message;
    const std::string status = message.substr(std::string("tar exit code ").size());
    EXPECT_NE(status, "0");
    EXPECT_TRUE(logHas("[ERROR] tar exited with " + status));
}

TEST_F(WineDownloaderTest, EarlyFailuresCompleteOnTheCallersThreadBeforeInstallReturns) {
    struct Case {
        const char* name;
        std::string url;
        std::optional<uint64_t> freeBytes;
        DownloadResult expected;  // nullopt: the download starts
        const char* logLine;
    };
    HttpTestServer server(serving("", M::notFound));
    const std::vector<Case> cases = {
        {"one byte short", server.url(), 1'999'999'999ull, DownloadError::diskSpaceLow(),
         "[ERROR] Not enough disk space for Wine runtime"},
        {"nothing free", server.url(), 0ull, DownloadError::diskSpaceLow(),
         "[ERROR] Not enough disk space for Wine runtime"},
        {"exactly enough", server.url(), 2'000'000'000ull, std::nullopt, nullptr},
        {"size unknown", server.url(), std::nullopt, std::nullopt, nullptr},
        {"not a URL", "not a url", 5'000'000'000ull, DownloadError::networkError("Invalid download URL"), nullptr},
        {"no host", "https://", 5'000'000'000ull, DownloadError::networkError("Invalid download URL"), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::writeFile(Logger::logPath(), "");
        auto settings = settingsFor(c.url, platform::Sha256::hex("x"));
        settings.freeSpace = [&c](const std::string& path) {
            EXPECT_TRUE(fs::is_directory(path)) << "the support directory is created first";
            return c.freeBytes;
        };
        Outcome outcome;
        const size_t requestsBefore = server.requests().size();
        {
            WineDownloader downloader(settings);
            downloader.install(outcome.progressHandler(), outcome.completionHandler());
            if (c.expected) {
                ASSERT_EQ(outcome.results.size(), 1u) << "not delivered before install returned";
                EXPECT_EQ(outcome.results[0], c.expected);
                EXPECT_EQ(outcome.callbackThreads[0], std::this_thread::get_id());
            } else {
                ASSERT_TRUE(outcome.waitForResult());
                EXPECT_NE(outcome.callbackThreads[0], std::this_thread::get_id());
            }
        }
        EXPECT_EQ(outcome.results.size(), 1u);
        EXPECT_EQ(server.requests().size() > requestsBefore, !c.expected) << "download started: " << !c.expected;
        EXPECT_EQ(logHasPrefix(kStart), !c.expected);
        if (c.logLine) {
            EXPECT_TRUE(logHas(c.logLine));
        }
        expectNothingLeftBehind();
    }
}

TEST_F(WineDownloaderTest, TransferFailuresAreNetworkErrors) {
    const auto archive = testsupport::buildWineArchive(work, ArchiveKind::good);
    struct Case {
        const char* name;
        HttpTestServer::Mode mode;
        std::string redirectTo;  // redirect mode only
        bool refused;
        std::chrono::milliseconds total;
        std::chrono::milliseconds idle;
    };
    const std::vector<Case> cases = {
        {"refused connection", M::serve, "", true, std::chrono::seconds(600), std::chrono::seconds(60)},
        {"stall beyond the transfer limit", M::stallAfter, "", false, std::chrono::seconds(2),
         std::chrono::seconds(60)},
        {"stall beyond the idle limit", M::stallAfter, "", false, std::chrono::seconds(600), std::chrono::seconds(2)},
        {"redirect to plain http elsewhere", M::redirect,
         "http://downloads.example.invalid/wine-staging-11.4-osx64.tar.xz", false, std::chrono::seconds(600),
         std::chrono::seconds(60)},
        {"redirect to another scheme", M::redirect, "ftp://127.0.0.1/wine.tar.xz", false, std::chrono::seconds(600),
         std::chrono::seconds(60)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::writeFile(Logger::logPath(), "");
        auto options = serving(archive.path, c.mode);
        options.faultAfterBytes = 4096;
        options.redirectLocation = c.redirectTo;
        HttpTestServer server(options);
        std::string url = c.mode == M::redirect ? server.url("/old") : server.url();
        if (c.refused) url = "http://127.0.0.1:" + std::to_string(HttpTestServer::unusedPort()) + "/wine.tar.xz";
        auto settings = settingsFor(url, archive.sha256);
        settings.transferTimeout = c.total;
        settings.idleTimeout = c.idle;
        Outcome outcome;
        {
            WineDownloader downloader(settings);
            downloader.install(outcome.progressHandler(), outcome.completionHandler());
            ASSERT_TRUE(outcome.waitForResult());
        }
        ASSERT_EQ(outcome.results.size(), 1u);
        ASSERT_TRUE(outcome.results[0]);
        EXPECT_EQ(outcome.results[0]->kind, Kind::networkError);
        EXPECT_FALSE(outcome.results[0]->message.empty());
        EXPECT_TRUE(logHasPrefix("[ERROR] Download failed: " + outcome.results[0]->message)) << c.name;
        EXPECT_FALSE(fs::exists(wineDir));
        expectNothingLeftBehind();
    }
}

TEST_F(WineDownloaderTest, PlainHttpToAnotherHostIsRefusedWithoutConnecting) {
    Outcome outcome;
    WineDownloader downloader(
        settingsFor("http://downloads.example.invalid/wine-staging-11.4-osx64.tar.xz", platform::Sha256::hex("x")));
    downloader.install(outcome.progressHandler(), outcome.completionHandler());
    ASSERT_TRUE(outcome.waitForResult());
    ASSERT_TRUE(outcome.results[0]);
    EXPECT_EQ(outcome.results[0]->kind, Kind::networkError);
    EXPECT_TRUE(logHasPrefix("[ERROR] Download failed: "));
    expectNothingLeftBehind();
}

TEST_F(WineDownloaderTest, UnreadableArchiveCountsAsDigestMismatch) {
    const auto archive = testsupport::buildWineArchive(work, ArchiveKind::good);
    HttpTestServer server(serving(archive.path));
    auto settings = settingsFor(server.url(), archive.sha256);
    // Replace the saved archive by a directory: it opens, but cannot be read.
    settings.afterArchiveSaved = [](const std::string& path) {
        fs::remove(path);
        fs::create_directories(path + "/inside");
    };
    Outcome outcome;
    WineDownloader downloader(settings);
    downloader.install(outcome.progressHandler(), outcome.completionHandler());
    ASSERT_TRUE(outcome.waitForResult());
    EXPECT_EQ(outcome.results[0], DownloadError::checksumMismatch());
    EXPECT_TRUE(logHas("[ERROR] SHA256 mismatch"));
    expectNothingLeftBehind();
}

TEST_F(WineDownloaderTest, MoveFailuresAreReportedAndLeaveNoStaging) {
    const auto archive = testsupport::buildWineArchive(work, ArchiveKind::good);
    HttpTestServer server(serving(archive.path));

    // The archive path is an immutable, non-empty directory: the download cannot be saved.
    testsupport::writeFile(archivePath + "/blocker", "x");
    {
        testsupport::Undeletable locked(archivePath);
        if (!locked.active()) GTEST_SKIP() << "no immutable flag on this file system";
        Outcome outcome;
        WineDownloader downloader(settingsFor(server.url(), archive.sha256));
        downloader.install(outcome.progressHandler(), outcome.completionHandler());
        ASSERT_TRUE(outcome.waitForResult());
        EXPECT_EQ(outcome.results[0], DownloadError::networkError("Failed to save download"));
        EXPECT_TRUE(logHasPrefix("[ERROR] Failed to move download: "));
        EXPECT_TRUE(leftoverDownloads(support).empty());
    }
    fs::remove_all(archivePath);

    // The runtime directory cannot be replaced.
    testsupport::writeFakeRuntime(wineDir, "wine-11.2", "previous runtime");
    {
        testsupport::Undeletable locked(wineDir);
        ASSERT_TRUE(locked.active());
        Outcome outcome;
        WineDownloader downloader(settingsFor(server.url(), archive.sha256));
        downloader.install(outcome.progressHandler(), outcome.completionHandler());
        ASSERT_TRUE(outcome.waitForResult());
        ASSERT_TRUE(outcome.results[0]);
        EXPECT_EQ(outcome.results[0]->kind, Kind::extractionFailed);
        EXPECT_EQ(outcome.results[0]->message.rfind("Failed to install: ", 0), 0u) << outcome.results[0]->message;
        EXPECT_GT(outcome.results[0]->message.size(), std::string("Failed to install: ").size());
        EXPECT_TRUE(logHasPrefix("[ERROR] Failed to move Wine to final location: "));
    }
    expectNothingLeftBehind();
}

TEST_F(WineDownloaderTest, LeftoversOfAKilledAttemptAreReplaced) {
    const auto archive = testsupport::buildWineArchive(work, ArchiveKind::good);
    testsupport::writeFile(archivePath, "half an archive from last time");
    testsupport::writeFile(staging + "/Wine Staging.app/Contents/Resources/wine/stale-file", "stale");
    HttpTestServer server(serving(archive.path));
    Outcome outcome;
    WineDownloader downloader(settingsFor(server.url(), archive.sha256));
    downloader.install(outcome.progressHandler(), outcome.completionHandler());
    ASSERT_TRUE(outcome.waitForResult());
    EXPECT_EQ(outcome.results[0], std::nullopt);
    EXPECT_FALSE(fs::exists(wineDir + "/stale-file"));
    EXPECT_TRUE(downloader.isInstalled());
    expectNothingLeftBehind();
}

TEST_F(WineDownloaderTest, SecondInstallSupersedesTheFirst) {
    const auto archive = testsupport::buildWineArchive(work, ArchiveKind::good);
    // A slow server keeps the first transfer running when the second call comes.
    auto options = serving(archive.path, M::slowDrip);
    options.dripBytes = 8192;
    options.dripInterval = std::chrono::milliseconds(20);
    HttpTestServer server(options);
    Outcome first, second;
    {
        WineDownloader downloader(settingsFor(server.url(), archive.sha256));
        downloader.install(first.progressHandler(), first.completionHandler());
        downloader.install(second.progressHandler(), second.completionHandler());
        ASSERT_TRUE(second.waitForResult());
    }
    EXPECT_TRUE(first.results.empty());
    EXPECT_TRUE(first.progress.empty());
    ASSERT_EQ(second.results.size(), 1u);
    EXPECT_EQ(second.results[0], std::nullopt);
    EXPECT_EQ(testsupport::readFile(wineDir + "/share/fixture-marker"), archive.marker);
    expectNothingLeftBehind();
}

TEST_F(WineDownloaderTest, DestroyingTheDownloaderStopsAStalledTransfer) {
    const auto archive = testsupport::buildWineArchive(work, ArchiveKind::good);
    auto options = serving(archive.path, M::stallAfter);
    options.faultAfterBytes = 100;
    HttpTestServer server(options);
    Outcome outcome;
    {
        WineDownloader downloader(settingsFor(server.url(), archive.sha256));
        downloader.install(outcome.progressHandler(), outcome.completionHandler());
        // Wait until the transfer has started, so the cancellation hits a live one.
        for (int i = 0; i < 1000 && server.requests().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_FALSE(server.requests().empty());
    }
    EXPECT_TRUE(outcome.results.empty());
    expectNothingLeftBehind();
}

TEST_F(WineDownloaderTest, IsInstalledJudgesTheVersionLine) {
    struct Case {
        const char* printed;
        bool installed;
    };
    const std::vector<Case> cases = {
        {"wine-11.4 (Staging)", true}, {"wine-11.4", true},  {"   wine-11.4   ", true},
        {"wine-11.3", false},          {"Wine-11.4", false}, {"", false},
    };
    WineDownloader::Settings settings = settingsFor("https://example.invalid/w.tar.xz", "");
    WineDownloader downloader(settings);
    EXPECT_FALSE(downloader.isInstalled()) << "no runtime at all";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.printed);
        testsupport::writeFakeRuntime(wineDir, c.printed, "m");
        EXPECT_EQ(downloader.isInstalled(), c.installed);
    }
}

TEST(VerifySHA256Test, StreamsFilesAndRejectsWhatCannotBeRead) {
    testsupport::TestHome home;
    const std::string empty = home.root() + "/empty";
    const std::string big = home.root() + "/big";
    testsupport::writeFile(empty, "");
    std::string data(3 * WineDownloader::kDigestChunkBytes + 12345, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 2654435761u) >> 13);
    testsupport::writeFile(big, data);
    const std::string bigDigest = platform::Sha256::hex(data);
    std::string upper = bigDigest;
    for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));

    struct Case {
        const char* name;
        std::string path;
        std::string expected;
        bool matches;
    };
    const std::vector<Case> cases = {
        {"multi-chunk file", big, bigDigest, true},
        {"empty file", empty, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", true},
        {"upper-case digest", big, upper, false},
        {"other digest", big, platform::Sha256::hex("other"), false},
        {"missing file", home.root() + "/missing", platform::Sha256::hex(""), false},
        {"directory", home.root(), platform::Sha256::hex(""), false},
        {"path through a file", empty + "/below", platform::Sha256::hex(""), false},
    };
    for (const auto& c : cases) EXPECT_EQ(WineDownloader::verifySHA256(c.path, c.expected), c.matches) << c.name;
}

}  // namespace
