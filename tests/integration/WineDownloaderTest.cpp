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
using testsupport::readFile;
using testsupport::writeFile;
using Kind = DownloadError::Kind;
using Settings = WineDownloader::Settings;

namespace {

constexpr char kWineTree[] = "/Wine Staging.app/Contents/Resources/wine";
const std::string kPrevious = "previous runtime", kFresh = "fresh runtime";

// Test fixture standing in for the Wine runtime, which cannot run here: a /bin/sh script (started with
// PATH=/usr/bin:/bin only) that warns on stderr, as Wine does, and prints its version line on stdout.
void writeRuntime(const std::string& dir, const std::string& version, const std::string& marker) {
    if (!version.empty()) {  // "": no bin/wine
        writeFile(dir + "/bin/wine", "#!/bin/sh\necho 'fixme: warning' >&2\necho '" + version + "'\n");
        fs::permissions(dir + "/bin/wine", fs::perms::owner_exec, fs::perm_options::add);
    }
    writeFile(dir + "/fixture-marker", marker);
}

// The file the server offers: a runtime tree packed with the real tar, or (no version at all) random
// bytes that no tar reads. The random bulk spans more than one digest chunk and many transfer blocks.
std::string buildServedFile(const std::string& dir, const char* version) {
    std::string bulk(WineDownloader::kDigestChunkBytes + 65536, '\0');
    std::mt19937_64 random(7);
    for (auto& byte : bulk) byte = static_cast<char>(random());
    const std::string path = dir + "/wine-staging-11.4-osx64.tar.xz", tree = dir + "/tree";
    if (!version) return writeFile(path, bulk), path;
    writeRuntime(tree + kWineTree, version, kFresh);
    writeFile(tree + kWineTree + "/lib/bulk.bin", bulk);
    writeFile(tree + "/Wine Staging.app/Contents/Info.plist", "<plist/>\n");  // stays out of the install
    const auto packed = platform::Subprocess::run(
        {"/usr/bin/tar", {"-cJf", path, "-C", tree, "Wine Staging.app"}, {}, platform::OutputMode::Null});
    if (!packed || packed->exit.status != 0) throw std::runtime_error("tar could not pack the fixture");
    return path;
}

bool logHas(const std::string& text) {
    return readFile(Logger::logPath()).find(text) != std::string::npos;
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
            record(), threads.push_back(std::this_thread::get_id()), cv.notify_all();
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
        s.expectedSHA256 = platform::Sha256::hex(readFile(served));
        s.freeSpace = [](const std::string&) { return std::optional<uint64_t>(100'000'000'000); };
        return s;
    }
    void expectNothingLeftBehind() const {
        EXPECT_FALSE(fs::exists(defaults.archivePath())) << "archive left behind";
        EXPECT_FALSE(fs::exists(defaults.stagingDir())) << "staging directory left behind";
        for (const auto& entry : fs::directory_iterator(defaults.supportDir))
            EXPECT_NE(entry.path().filename().string().rfind(".wine-download-", 0), 0u) << entry.path();
    }
};

// One row per outcome of an installation against the loopback server.
struct Row {
    const char* name;
    const char* version;           // of the served archive's bin/wine; "": none; nullptr: not an archive
    std::optional<Kind> expected;  // nullopt: installed
    const char* logLine;
    std::function<void(Settings&)> adjust = {};
    enum class Twist { none, settledBeforeReturn, runtimePinned, installedTwice, stalls, redirected } twist = {};
    friend std::ostream& operator<<(std::ostream& os, const Row& r) { return os << r.name; }
};
using Twist = Row::Twist;

class InstallOutcomeTest : public WineDownloaderTest, public ::testing::WithParamInterface<Row> {};

TEST_P(InstallOutcomeTest, ReportsOnceLogsAndLeavesNothingBehind) {
    const Row& row = GetParam();
    const std::string served = buildServedFile(home.root() + "/served", row.version);
    writeRuntime(wineDir, "wine-11.2", kPrevious);
    if (!row.expected) {  // leftovers of a killed attempt, which an install replaces
        writeFile(defaults.archivePath(), "half an archive");
        writeFile(defaults.stagingDir() + kWineTree + "/stale", "stale");
    }
    const bool redirected = row.twist == Twist::redirected;
    HttpTestServer server(
        {served, row.twist == Twist::stalls ? 65536u : 0u, redirected ? "http://elsewhere.example/w.tar.xz" : ""});
    Settings settings = settingsFor(server.url(redirected || !row.expected ? "/moved" : ""), served);
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
    EXPECT_EQ(readFile(wineDir + "/fixture-marker"),
              row.expected && row.expected != Kind::versionMismatch ? kPrevious : kFresh);
    if (!row.expected) {
        EXPECT_FALSE(fs::exists(wineDir + "/stale"));
        EXPECT_FALSE(fs::exists(wineDir + "/Info.plist"));
        EXPECT_TRUE(logHas("[INFO] Wine runtime installed successfully"));
        ASSERT_FALSE(outcome.progress.empty());  // rising to exactly 1
        EXPECT_TRUE(std::is_sorted(outcome.progress.begin(), outcome.progress.end()));
        EXPECT_EQ(outcome.progress.back(), 1.0);
    }
    expectNothingLeftBehind();
}

const char* const kGood = "wine-11.4 (Staging)";
const auto kSpace = [](uint64_t bytes) {
    return [bytes](Settings& s) { s.freeSpace = [bytes](const std::string&) { return std::optional(bytes); }; };
};

// Rows that end alike (the same kind and log line) by another road were left out.
INSTANTIATE_TEST_SUITE_P(
    LoopbackServer, InstallOutcomeTest,
    ::testing::Values(
        Row{"RedirectedWithExactlyEnoughSpace", kGood, std::nullopt, "[INFO] SHA256 verified", kSpace(2'000'000'000)},
        Row{"SecondInstallWins", kGood, std::nullopt, "[INFO] SHA256 verified", nullptr, Twist::installedTwice},
        Row{"OneByteShort", kGood, Kind::diskSpaceLow, "[ERROR] Not enough disk space for Wine runtime",
            kSpace(1'999'999'999), Twist::settledBeforeReturn},
        Row{"RedirectToPlainHttpElsewhere", kGood, Kind::networkError, "[ERROR] Download failed: ", nullptr,
            Twist::redirected},
        Row{"StallBeyondLimit", kGood, Kind::networkError, "[ERROR] Download failed: ",
            [](Settings& s) { s.transferTimeout = std::chrono::seconds(2); }, Twist::stalls},
        Row{"DigestMismatch", kGood, Kind::checksumMismatch, "[ERROR] SHA256 mismatch",
            [](Settings& s) { s.expectedSHA256 = platform::Sha256::hex("other"); }},
        Row{"DownloadCannotBeSaved", kGood, Kind::networkError,
            "[ERROR] Failed to move download: ", [](Settings& s) { s.archiveName = "missing dir/wine.tar.xz"; }},
        Row{"NotAnArchive", nullptr, Kind::extractionFailed, "[ERROR] tar exited with "},
        Row{"TarCannotStart", kGood, Kind::extractionFailed,
            "[ERROR] tar failed: ", [](Settings& s) { s.tarPath = "/nonexistent/tar"; }},
        Row{"NoWineBinary", "", Kind::extractionFailed, "[ERROR] Wine binary not found in extracted archive"},
        Row{"RuntimeCannotBeReplaced", kGood, Kind::extractionFailed,
            "[ERROR] Failed to move Wine to final location: ", nullptr, Twist::runtimePinned},
        Row{"VersionMismatch", "wine-11.3", Kind::versionMismatch,
            "[ERROR] Wine runtime installed but version check failed"}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST_F(WineDownloaderTest, DestructionEndsAStalledTransferSilently) {
    const std::string served = buildServedFile(home.root() + "/served", nullptr);
    HttpTestServer server({served, 65536});
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
