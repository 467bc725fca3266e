#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "logging/Logger.h"
#include "platform/Sha256.h"
#include "platform/Subprocess.h"
#include "support/HttpTestServer.h"
#include "support/TestHome.h"
#include "support/Undeletable.h"
#include "wine/WineDownloader.h"

namespace fs = std::filesystem;
using testsupport::HttpTestServer;
using Kind = DownloadError::Kind;
using Mode = HttpTestServer::Mode;
using Settings = WineDownloader::Settings;

namespace {

constexpr char kWineTree[] = "/Wine Staging.app/Contents/Resources/wine";
const std::string kPrevious = "previous runtime";
const std::string kFresh = "fresh runtime";

// Test fixture standing in for the Wine runtime, which cannot run here: a
// /bin/sh script (started with PATH=/usr/bin:/bin only) that warns on stderr,
// as Wine does, and prints its version line on stdout. No version: no bin/wine.
void writeRuntime(const std::string& dir, const std::string& version, const std::string& marker) {
    if (!version.empty()) {
        testsupport::writeFile(dir + "/bin/wine", "#!/bin/sh\necho 'fixme: warning' >&2\necho '" + version + "'\n");
        fs::permissions(dir + "/bin/wine", fs::perms::owner_exec, fs::perm_options::add);
    }
    testsupport::writeFile(dir + "/fixture-marker", marker);
}

// The file the server offers: a runtime tree packed with /usr/bin/tar -cJf, or
// (no version at all) random bytes that no tar reads. The random bulk spans
// more than one digest chunk and many transfer blocks.
std::string buildServedFile(const std::string& dir, const char* version) {
    std::string bulk(WineDownloader::kDigestChunkBytes + 65536, '\0');
    std::mt19937_64 random(7);
    for (auto& byte : bulk) byte = static_cast<char>(random());
    const std::string path = dir + "/wine-staging-11.4-osx64.tar.xz";
    if (!version) {
        testsupport::writeFile(path, bulk);
        return path;
    }
    writeRuntime(dir + "/tree" + kWineTree, version, kFresh);
    testsupport::writeFile(dir + "/tree" + kWineTree + "/lib/bulk.bin", bulk);
    testsupport::writeFile(dir + "/tree/Wine Staging.app/Contents/Info.plist", "<plist/>\n");  // stays out
    platform::SubprocessSpec tar;
    tar.executable = "/usr/bin/tar";
    tar.arguments = {"-cJf", path, "-C", dir + "/tree", "Wine Staging.app"};
    const auto packed = platform::Subprocess::run(tar);
    if (!packed || packed->exit.status != 0) throw std::runtime_error("tar could not pack the fixture");
    return path;
}

bool logHas(const std::string& text) {
    return testsupport::readFile(Logger::logPath()).find(text) != std::string::npos;
}

// What one install call reported, and on which threads.
struct Outcome {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<double> progress;
    std::vector<DownloadResult> results;
    std::vector<std::thread::id> threads;

    void install(WineDownloader& downloader) {
        auto note = [this](auto record) {
            std::lock_guard lock(mutex);
            record();
            threads.push_back(std::this_thread::get_id());
            cv.notify_all();
        };
        downloader.install([=, this](double f) { note([&] { progress.push_back(f); }); },
                           [=, this](const DownloadResult& r) { note([&] { results.push_back(r); }); });
    }
    bool wait(bool orProgress = false) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(120),
                           [&] { return !results.empty() || (orProgress && !progress.empty()); });
    }
};

class WineDownloaderTest : public ::testing::Test {
protected:
    testsupport::TestHome home;
    const Settings defaults = Settings::defaults();  // paths inside the private home
    const std::string wineDir = defaults.wineDir;

    // Downloads `served` from `url`, with plenty of free space.
    Settings settingsFor(const std::string& url, const std::string& served) const {
        Settings s = defaults;
        s.downloadURL = url;
        s.expectedSHA256 = platform::Sha256::hex(testsupport::readFile(served));
        s.freeSpace = [](const std::string&) { return std::optional<uint64_t>(100'000'000'000); };
        return s;
    }
    std::string marker() const { return testsupport::readFile(wineDir + "/fixture-marker"); }

    void expectNothingLeftBehind() const {
        EXPECT_FALSE(fs::exists(defaults.archivePath())) << "archive left behind";
        EXPECT_FALSE(fs::exists(defaults.stagingDir())) << "staging directory left behind";
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(defaults.supportDir, ec))
            EXPECT_NE(entry.path().filename().string().rfind(".wine-download-", 0), 0u) << entry.path();
    }
};

// One row per outcome of an installation against the loopback server.
struct Row {
    const char* name;
    const char* version;  // of the served archive's bin/wine; "": none; nullptr: not an archive
    HttpTestServer::Options server;
    std::optional<Kind> expected;  // nullopt: installed
    const char* logLine;           // logged by the outcome ("": nothing in particular)
    std::function<void(Settings&)> adjust = {};
    friend std::ostream& operator<<(std::ostream& os, const Row& r) { return os << r.name; }
    enum class Twist { none, settledBeforeReturn, runtimePinned, installedTwice } twist = Twist::none;
};
using Twist = Row::Twist;

class InstallOutcomeTest : public WineDownloaderTest, public ::testing::WithParamInterface<Row> {};

TEST_P(InstallOutcomeTest, ReportsOnceLogsAndLeavesNothingBehind) {
    const Row& row = GetParam();
    const std::string served = buildServedFile(home.root() + "/served", row.version);
    writeRuntime(wineDir, "wine-11.2", kPrevious);
    if (!row.expected) {  // leftovers of a killed attempt, which an install replaces
        testsupport::writeFile(defaults.archivePath(), "half an archive");
        testsupport::writeFile(defaults.stagingDir() + kWineTree + "/stale", "stale");
    }
    HttpTestServer server({served, row.server.mode, row.server.faultAfterBytes, row.server.redirectTo});
    Settings settings = settingsFor(server.url(row.server.mode == Mode::redirect ? "/moved" : ""), served);
    if (row.adjust) row.adjust(settings);
    std::optional<testsupport::Undeletable> pin;
    if (row.twist == Twist::runtimePinned && !pin.emplace(wineDir).active()) GTEST_SKIP() << "no immutable flag";

    Outcome superseded, outcome;
    {
        WineDownloader downloader(settings);
        if (row.twist == Twist::installedTwice) superseded.install(downloader);
        outcome.install(downloader);
        ASSERT_TRUE(outcome.wait());
    }
    pin.reset();
    EXPECT_TRUE(superseded.results.empty() && superseded.progress.empty()) << "a superseded install reported";
    ASSERT_EQ(outcome.results.size(), 1u);
    const DownloadResult& result = outcome.results[0];
    EXPECT_EQ(result ? std::optional(result->kind) : std::nullopt, row.expected) << (result ? result->message : "");
    EXPECT_TRUE(logHas(row.logLine)) << row.logLine;
    const bool early = row.twist == Twist::settledBeforeReturn;
    EXPECT_EQ(logHas("[INFO] Starting Wine runtime download from " + settings.downloadURL), !early);
    for (auto id : outcome.threads) EXPECT_EQ(id == std::this_thread::get_id(), early);
    EXPECT_EQ(marker(), row.expected && row.expected != Kind::versionMismatch ? kPrevious : kFresh);
    if (!row.expected) {
        EXPECT_FALSE(fs::exists(wineDir + "/stale"));
        EXPECT_FALSE(fs::exists(wineDir + "/Info.plist"));
        EXPECT_TRUE(logHas("[INFO] Wine runtime installed successfully"));
        // Progress only when the length is known: rising to exactly 1.
        EXPECT_EQ(outcome.progress.empty(), row.server.mode == Mode::closeDelimited);
        EXPECT_TRUE(std::is_sorted(outcome.progress.begin(), outcome.progress.end()));
        EXPECT_EQ(outcome.progress.empty() ? 1.0 : outcome.progress.back(), 1.0);
    }
    expectNothingLeftBehind();
}

// The server's behaviour; its file is filled in per row.
HttpTestServer::Options by(Mode mode, const char* redirectTo = "") {
    return {.mode = mode, .faultAfterBytes = 65536, .redirectTo = redirectTo};
}
const char* const kGood = "wine-11.4 (Staging)";
// A directory where the saved archive was: it opens, but cannot be read.
void replaceByDirectory(const std::string& path) {
    fs::remove(path);
    fs::create_directories(path + "/inside");
}
const auto kSpace = [](uint64_t bytes) {
    return [bytes](Settings& s) { s.freeSpace = [bytes](const std::string&) { return std::optional(bytes); }; };
};

INSTANTIATE_TEST_SUITE_P(
    LoopbackServer, InstallOutcomeTest,
    ::testing::Values(
        Row{"InstalledWithExactlyEnoughSpace", kGood, by(Mode::serve), std::nullopt, "[INFO] SHA256 verified",
            kSpace(2'000'000'000)},
        Row{"SecondInstallWins", kGood, by(Mode::serve), std::nullopt, "[INFO] SHA256 verified", nullptr,
            Twist::installedTwice},
        Row{"UnknownLength", kGood, by(Mode::closeDelimited), std::nullopt, "[INFO] SHA256 verified"},
        Row{"RedirectFollowed", kGood, by(Mode::redirect), std::nullopt, "[INFO] SHA256 verified"},
        Row{"OneByteShort", kGood, by(Mode::serve), Kind::diskSpaceLow,
            "[ERROR] Not enough disk space for Wine runtime", kSpace(1'999'999'999), Twist::settledBeforeReturn},
        Row{"InvalidURL", kGood, by(Mode::serve), Kind::networkError, "",
            [](Settings& s) { s.downloadURL = "not a url"; }, Twist::settledBeforeReturn},
        Row{"Refused", kGood, by(Mode::serve), Kind::networkError,
            "[ERROR] Download failed: ", [](Settings& s) { s.downloadURL = HttpTestServer({"/dev/null"}).url(); }},
        Row{"RedirectToPlainHttpElsewhere", kGood, by(Mode::redirect, "http://elsewhere.example/w.tar.xz"),
            Kind::networkError, "[ERROR] Download failed: "},
        Row{"ResetMidTransfer", kGood, by(Mode::resetAfter), Kind::networkError, "[ERROR] Download failed: "},
        Row{"StallBeyondLimit", kGood, by(Mode::stallAfter), Kind::networkError,
            "[ERROR] Download failed: ", [](Settings& s) { s.transferTimeout = std::chrono::seconds(2); }},
        Row{"ErrorPage", kGood, by(Mode::notFound), Kind::checksumMismatch, "[ERROR] SHA256 mismatch"},
        Row{"DigestMismatch", kGood, by(Mode::serve), Kind::checksumMismatch, "[ERROR] SHA256 mismatch",
            [](Settings& s) { s.expectedSHA256 = platform::Sha256::hex("other"); }},
        Row{"ArchiveUnreadableAfterMove", kGood, by(Mode::serve), Kind::checksumMismatch, "[ERROR] SHA256 mismatch",
            [](Settings& s) { s.afterArchiveSaved = replaceByDirectory; }},
        Row{"DownloadCannotBeSaved", kGood, by(Mode::serve), Kind::networkError,
            "[ERROR] Failed to move download: ", [](Settings& s) { s.archiveName = "missing dir/wine.tar.xz"; }},
        Row{"NotAnArchive", nullptr, by(Mode::serve), Kind::extractionFailed, "[ERROR] tar exited with "},
        Row{"TarCannotStart", kGood, by(Mode::serve), Kind::extractionFailed,
            "[ERROR] tar failed: ", [](Settings& s) { s.tarPath = "/nonexistent/tar"; }},
        Row{"NoWineBinary", "", by(Mode::serve), Kind::extractionFailed,
            "[ERROR] Wine binary not found in extracted archive"},
        Row{"RuntimeCannotBeReplaced", kGood, by(Mode::serve), Kind::extractionFailed,
            "[ERROR] Failed to move Wine to final location: ", nullptr, Twist::runtimePinned},
        Row{"VersionMismatch", "wine-11.3", by(Mode::serve), Kind::versionMismatch,
            "[ERROR] Wine runtime installed but version check failed"}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST_F(WineDownloaderTest, DestructionEndsAStalledTransferSilently) {
    const std::string served = buildServedFile(home.root() + "/served", nullptr);
    HttpTestServer server({served, Mode::stallAfter, 65536});
    Outcome outcome;
    {
        WineDownloader downloader(settingsFor(server.url(), served));
        outcome.install(downloader);
        ASSERT_TRUE(outcome.wait(true));
        ASSERT_FALSE(outcome.progress.empty()) << "the transfer never started";
    }
    EXPECT_TRUE(outcome.results.empty());
    expectNothingLeftBehind();
}

}  // namespace
