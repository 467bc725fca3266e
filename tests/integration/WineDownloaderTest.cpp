#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "logging/Logger.h"
#include "platform/Sha256.h"
#include "platform/Subprocess.h"
#include "support/GoldenLog.h"
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
    writeRuntime(tree + kWineTree, version, "fresh");
    writeFile(tree + kWineTree + "/lib/bulk.bin", bulk);
    writeFile(tree + "/Wine Staging.app/Contents/Info.plist", "<plist/>\n");  // stays out of the install
    const auto packed = platform::Subprocess::run(
        {"/usr/bin/tar", {"-cJf", path, "-C", tree, "Wine Staging.app"}, {}, platform::OutputMode::Null});
    if (!packed || packed->exit.status != 0) throw std::runtime_error("tar could not pack the fixture");
    return path;
}

// What one install call reported.
struct Outcome {
    std::mutex mutex;
    std::vector<double> progress;
    std::vector<DownloadResult> results;

    void install(WineDownloader& downloader) {
        downloader.install([this](double f) { std::scoped_lock{mutex}, progress.push_back(f); },
                           [this](const DownloadResult& r) { std::scoped_lock{mutex}, results.push_back(r); });
    }
    size_t settled(int polls = 12000) {  // polls; the bound only catches a hang
        for (int i = 0;; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
            if (std::lock_guard lock(mutex); !results.empty() || i >= polls) return results.size();
    }
};

enum class Twist { none, settledBeforeReturn, runtimePinned, installedTwice, redirected, unknownSizes };

// One row per outcome of an installation against the loopback server, which serves `version`'s archive;
// the log it leaves is tests/golden/logs/download-<name>.log.
struct Row {
    const char* name;
    const char* version;           // of the served archive's bin/wine; "": none; nullptr: not an archive
    std::optional<Kind> expected;  // nullopt: installed
    std::function<void(Settings&)> adjust = {};
    Twist twist = Twist::none;
    const char* announce = nullptr;  // the server's Content-Length (HttpTestServer::Options)
    bool chunked = false;
    friend std::ostream& operator<<(std::ostream& os, const Row& r) { return os << r.name; }
};

class InstallOutcomeTest : public ::testing::TestWithParam<Row> {};

TEST_P(InstallOutcomeTest, ReportsOnceLogsAndLeavesNothingBehind) {
    const Row& row = GetParam();
    testsupport::TestHome home;
    Settings settings = Settings::defaults();  // paths inside the private home
    const std::string served = buildServedFile(home.root() + "/served", row.version), wineDir = settings.wineDir;
    writeRuntime(wineDir, "wine-11.2", "previous");
    if (!row.expected) {  // leftovers of a killed attempt, which an install replaces
        writeFile(settings.archivePath(), "half an archive");
        writeFile(settings.stagingDir() + kWineTree + "/stale", "stale");
        writeFile(settings.supportDir + "/.wine-download-Xy12Z9", "part of an earlier transfer");
    }
    const bool redirected = row.twist == Twist::redirected;
    const bool unknownSizes = row.twist == Twist::unknownSizes;
    HttpTestServer server({served, redirected ? "http://elsewhere.example/w.tar.xz" : "", row.announce, row.chunked});
    settings.downloadURL = server.url(redirected || !row.expected ? "/moved" : "");
    settings.expectedSHA256 = platform::Sha256::hex(readFile(served));
    settings.freeSpace = [unknownSizes](const std::string&) {
        return unknownSizes ? std::nullopt : std::optional<uint64_t>(100'000'000'000);
    };
    if (row.adjust) row.adjust(settings);
    std::optional<testsupport::Undeletable> pin;
    if (row.twist == Twist::runtimePinned && !pin.emplace(wineDir).active()) GTEST_SKIP() << "no immutable flag";

    Outcome superseded, outcome;
    const bool early = row.twist == Twist::settledBeforeReturn, twice = row.twist == Twist::installedTwice;
    WineDownloader* downloading = nullptr;
    // The second install comes once the first has its archive: past its transfer, at a fixed point.
    if (twice)
        settings.afterArchiveSaved = [&](const std::string&) {
            if (auto* first = std::exchange(downloading, nullptr)) outcome.install(*first);
        };
    {
        WineDownloader downloader(settings);
        downloading = &downloader;
        twice ? superseded.install(downloader) : outcome.install(downloader);
        EXPECT_TRUE(!early || outcome.settled(0)) << "settled within the call";
        ASSERT_TRUE(outcome.settled());
    }
    pin.reset();
    EXPECT_TRUE(superseded.results.empty()) << "a superseded install reported";
    ASSERT_EQ(outcome.results.size(), 1u);
    const DownloadResult& result = outcome.results[0];
    EXPECT_EQ(result ? std::optional(result->kind) : std::nullopt, row.expected) << (result ? result->message : "");
    testsupport::expectGolden(std::string("logs/download-") + row.name + ".log",
                              testsupport::normaliseLog(readFile(Logger::logPath()), home.root(), true));
    const bool replaced = !row.expected || row.expected == Kind::versionMismatch;
    EXPECT_EQ(readFile(wineDir + "/fixture-marker"), replaced ? "fresh" : "previous");
    if (!row.expected) {
        EXPECT_FALSE(fs::exists(wineDir + "/stale") || fs::exists(wineDir + "/Info.plist"));
        EXPECT_TRUE(std::is_sorted(outcome.progress.begin(), outcome.progress.end()));
        EXPECT_EQ(outcome.progress.empty() ? 0.0 : outcome.progress.back(), unknownSizes ? 0.0 : 1.0)
            << "progress rising to exactly 1, and none without a length";
    }
    EXPECT_FALSE(fs::exists(settings.archivePath()) || fs::exists(settings.stagingDir())) << "left behind";
    for (const auto& entry : fs::directory_iterator(settings.supportDir))
        EXPECT_NE(entry.path().filename().string().rfind(".wine-download-", 0), 0u) << entry.path();
}

const char* const kGood = "wine-11.4 (Staging)";
const auto kSpace = [](uint64_t bytes) {
    return [bytes](Settings& s) { s.freeSpace = [bytes](const std::string&) { return std::optional(bytes); }; };
};

// One row per error the user can be shown; other roads to the same error were left out, and a refused
// connection ends a journey with its golden log.
INSTANTIATE_TEST_SUITE_P(
    LoopbackServer, InstallOutcomeTest,
    ::testing::Values(
        Row{"RedirectedWithExactlyEnoughSpace", kGood, std::nullopt, kSpace(2'000'000'000)},
        Row{"FreeSpaceAndLengthUnknown", kGood, std::nullopt, nullptr, Twist::unknownSizes, ""},
        Row{"SecondInstallWins", kGood, std::nullopt, nullptr, Twist::installedTwice},
        Row{"OneByteShort", kGood, Kind::diskSpaceLow, kSpace(1'999'999'999), Twist::settledBeforeReturn},
        Row{"RedirectToPlainHttpElsewhere", kGood, Kind::networkError, nullptr, Twist::redirected},
        // A body is bounded by the free space but 256 MiB (268435456 bytes), announced or not.
        Row{"AnnouncedBeyondFreeSpace", kGood, Kind::networkError, nullptr, Twist::none, "1000000000000"},
        Row{"UnannouncedBodyBeyondFreeSpace", kGood, Kind::networkError,
            [](Settings& s) {  // the second look at the free space is the session's
                s.freeSpace = [calls = std::make_shared<int>(0)](const std::string&) {
                    return std::optional<uint64_t>((*calls)++ ? 268'535'456 : 2'000'000'000);
                };
            },
            Twist::none, ""},
        Row{"ChunkedPastItsAnnouncedLength", kGood, Kind::networkError, nullptr, Twist::none, "1000", true},
        Row{"DigestMismatch", kGood, Kind::checksumMismatch,
            [](Settings& s) { s.expectedSHA256 = platform::Sha256::hex("other"); }},
        Row{"DownloadCannotBeSaved", kGood, Kind::networkError,
            [](Settings& s) { s.archiveName = "missing dir/wine.tar.xz"; }},
        Row{"NotAnArchive", nullptr, Kind::extractionFailed},
        Row{"TarCannotStart", kGood, Kind::extractionFailed, [](Settings& s) { s.tarPath = "/nonexistent/tar"; }},
        Row{"NoWineBinary", "", Kind::extractionFailed},
        Row{"RuntimeCannotBeReplaced", kGood, Kind::extractionFailed, nullptr, Twist::runtimePinned},
        Row{"VersionMismatch", "wine-11.3", Kind::versionMismatch}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The launcher killed (SIGKILL) at one point of replacing its runtime, then started again: it never
// takes what it left for a runtime, and the next installation clears the leftovers and succeeds.
struct KillPoint {
    const char* point;    // where the stand-in launcher stops to be killed
    bool unpackSlowly;    // the point is inside a tar that has unpacked one file so far
    bool stillInstalled;  // the previous runtime (of the required version) is still whole
    friend std::ostream& operator<<(std::ostream& os, const KillPoint& k) { return os << k.point; }
};
class KillPointTest : public ::testing::TestWithParam<KillPoint> {};

TEST_P(KillPointTest, RestartFindsAWholeRuntimeOrNone) {
    const KillPoint& k = GetParam();
    testsupport::TestHome home;
    const Settings settings = Settings::defaults();
    const std::string served = buildServedFile(home.root() + "/served", kGood), wineDir = settings.wineDir;
    const std::string out = home.root() + "/driver.out", tarPid = home.root() + "/tar.pid";
    writeRuntime(wineDir, kGood, "previous");
    const std::string tar = home.root() + "/slow-tar";
    writeFile(tar, "#!/bin/sh\necho $$ > '" + tarPid + "'\n/usr/bin/tar \"$@\" 'Wine Staging.app/Contents/Info.plist'" +
                       " && echo PAUSED && exec sleep 300\n");
    fs::permissions(tar, fs::perms::owner_all);
    HttpTestServer server({served});
    const std::string sha = platform::Sha256::hex(readFile(served));

    auto runDriver = [&](const std::string& point, bool slowTar) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        std::vector<std::string> args = {server.url(), sha, point};
        if (slowTar) args.push_back(tar);
        auto started = platform::Subprocess::start({testsupport::testProgram("killpoint_driver"), args,
                                                    platform::currentEnvironment(), platform::OutputMode::File, fd});
        ::close(fd);
        return std::move(started.process);
    };
    auto driver = runDriver(k.point, k.unpackSlowly);
    ASSERT_TRUE(driver);
    for (int i = 0; i < 3000 && readFile(out).find("PAUSED") == std::string::npos; ++i)  // the bound catches a hang
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(readFile(out).find("PAUSED"), std::string::npos) << readFile(out);
    driver->sendSignal(SIGKILL);
    EXPECT_TRUE(driver->waitFor(60));
    if (k.unpackSlowly) ::kill(std::stoi(readFile(tarPid)), SIGKILL);

    WineDownloader restarted(settings);
    EXPECT_EQ(restarted.isInstalled(), k.stillInstalled);
    EXPECT_EQ(readFile(wineDir + "/fixture-marker"), k.stillInstalled ? "previous" : "");

    auto again = runDriver("none", false);
    ASSERT_TRUE(again);
    const auto status = again->waitFor(120);
    EXPECT_TRUE(status && status->status == 0) << readFile(out);
    EXPECT_EQ(readFile(out), "RESULT ok\n");
    EXPECT_TRUE(restarted.isInstalled());
    EXPECT_EQ(readFile(wineDir + "/fixture-marker"), "fresh");
    EXPECT_EQ(std::distance(fs::directory_iterator(settings.supportDir), {}), 2) << "wine and launcher.log only";
}

INSTANTIATE_TEST_SUITE_P(Install, KillPointTest,
                         ::testing::Values(KillPoint{"download", false, true}, KillPoint{"verified", false, true},
                                           KillPoint{"unpacking", true, true},
                                           KillPoint{"runtime removed", false, false}),
                         [](const auto& info) {
                             std::string name = info.param.point;
                             name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
                             return name;
                         });

}  // namespace
