#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <future>
#include <random>
#include <thread>

#include "logging/Logger.h"
#include "platform/Sha256.h"
#include "platform/Subprocess.h"
#include "support/GoldenLog.h"
#include "support/HttpTestServer.h"
#include "support/TestHome.h"
#include "support/ToolStandIn.h"
#include "support/Undeletable.h"
#include "wine/WineDownloader.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::HttpTestServer;
using testsupport::readFile;
using testsupport::writeFile;
using Kind = DownloadError::Kind;
using Settings = WineDownloader::Settings;

namespace {

constexpr char kWineTree[] = "/Wine Staging.app/Contents/Resources/wine", kGood[] = "wine-11.4 (Staging)";

// Test fixture standing in for the Wine runtime, which cannot run here: a /bin/sh script (run with
// PATH=/usr/bin:/bin only) that warns on stderr, as Wine does, and prints its version line on stdout.
void writeRuntime(const std::string& dir, const std::string& version, const std::string& marker) {
    if (!version.empty())  // "": no bin/wine
        writeFile(dir + "/bin/wine", "#!/bin/sh\necho 'fixme: warning' >&2\necho '" + version + "'\n"),
            fs::permissions(dir + "/bin/wine", fs::perms::owner_exec, fs::perm_options::add);
    writeFile(dir + "/fixture-marker", marker);
}

// The served file: a runtime tree packed with the real tar, or (no version) random bytes that no tar
// reads. Its random bulk spans more than one 1 MiB digest chunk and many transfer blocks.
std::string buildServedFile(const std::string& dir, const char* version) {
    std::string bulk(1'114'112, '\0');
    std::mt19937_64 random(7);
    for (auto& byte : bulk) byte = static_cast<char>(random());
    const std::string path = dir + "/wine-staging-11.4-osx64.tar.xz", tree = dir + "/tree";
    if (!version) return writeFile(path, bulk), path;
    writeRuntime(tree + kWineTree, version, "fresh");
    writeFile(tree + kWineTree + "/lib/bulk.bin", bulk);
    writeFile(tree + "/Wine Staging.app/Contents/Info.plist", "<plist/>\n");  // the slow tar unpacks only this
    const auto packed = platform::Subprocess::run(
        {"/usr/bin/tar", {"-cJf", path, "-C", tree, "Wine Staging.app"}, {}, platform::OutputMode::Null});
    return packed && packed->exit.status == 0 ? path : throw std::runtime_error("tar failed");
}

// The free space the install call sees, then the one the session sees when `later` is given.
const auto kSpace = [](std::optional<uint64_t> bytes, std::optional<uint64_t> later = {}) {
    return [=](Settings& s) {
        s.freeSpace = [=, looks = std::make_shared<int>()](const std::string&) {
            return (*looks)++ && later ? later : bytes;
        };
    };
};

// What one install call reported; read once the downloader, and with it its session thread, is gone.
struct Outcome {
    std::vector<double> progress;
    std::vector<DownloadResult> results;
    std::promise<void> reported;
    std::future<void> done = reported.get_future();
    void install(WineDownloader& downloader) {
        downloader.install([this](double f) { progress.push_back(f); },
                           [this](const DownloadResult& r) {
                               if (results.push_back(r), results.size() == 1) reported.set_value();
                           });
    }
};

enum class Twist { none, runtimePinned, installedTwice };

// One row per outcome of an installation; the log it leaves is tests/golden/logs/download-<name>.log.
struct Row {
    const char* name;
    const char* version;           // of the served archive's bin/wine; "": none; nullptr: not an archive
    std::optional<Kind> expected;  // nullopt: installed
    std::function<void(Settings&)> adjust = {};
    HttpTestServer::Options server = {};  // serving the file built for `version`
    Twist twist = Twist::none;
    friend std::ostream& operator<<(std::ostream& os, const Row& r) { return os << r.name; }
};
class InstallOutcomeTest : public ::testing::TestWithParam<Row> {};

TEST_P(InstallOutcomeTest, ReportsOnceLogsAndLeavesNothingBehind) {
    const Row& row = GetParam();
    testsupport::TestHome home;
    HttpTestServer::Options options = row.server;
    options.filePath = buildServedFile(home.root() + "/served", row.version);
    HttpTestServer server(options);
    Settings settings = Settings::defaults();  // paths inside the private home
    settings.downloadURL = server.url(!row.expected || !options.redirectTo.empty() ? "/moved" : "");
    settings.expectedSHA256 = platform::Sha256::hex(readFile(options.filePath));
    kSpace(100'000'000'000)(settings);
    if (row.adjust) row.adjust(settings);
    writeRuntime(settings.wineDir, "wine-11.2", "previous");
    std::optional<testsupport::Undeletable> pin;
    if (row.twist == Twist::runtimePinned && !pin.emplace(settings.wineDir).active()) GTEST_SKIP() << "no pin";
    Outcome superseded, outcome;
    WineDownloader* first = nullptr;
    if (row.twist == Twist::installedTwice)  // the second install comes once the first has saved its archive
        settings.afterArchiveSaved = [&](const std::string&) {
            if (first) outcome.install(*std::exchange(first, nullptr));
        };
    {
        WineDownloader downloader(settings);
        (row.twist == Twist::installedTwice ? superseded : outcome).install(*(first = &downloader));
        EXPECT_TRUE(row.expected != Kind::diskSpaceLow || outcome.done.wait_for(0s) == std::future_status::ready)
            << "a disk-space failure is reported within the call";
        ASSERT_EQ(outcome.done.wait_for(120s), std::future_status::ready);  // the bound catches a hang
    }
    pin.reset();
    EXPECT_TRUE(superseded.results.empty()) << "a superseded install reported";
    ASSERT_EQ(outcome.results.size(), 1u);
    const DownloadResult& result = outcome.results[0];
    EXPECT_EQ(result ? std::optional(result->kind) : std::nullopt, row.expected) << (result ? result->message : "");
    testsupport::expectGolden(std::string("logs/download-") + row.name + ".log",
                              testsupport::normaliseLog(readFile(Logger::logPath()), home.root(), true));
    const bool replaced = !row.expected || row.expected == Kind::versionMismatch;
    EXPECT_EQ(readFile(settings.wineDir + "/fixture-marker"), replaced ? "fresh" : "previous");
    EXPECT_TRUE(std::is_sorted(outcome.progress.begin(), outcome.progress.end()));
    if (!row.expected) {
        EXPECT_EQ(outcome.progress.empty() ? 0.0 : outcome.progress.back(), options.announce ? 0.0 : 1.0)
            << "progress rising to exactly 1, and none without a length";
    }
    EXPECT_FALSE(fs::exists(settings.archivePath()) || fs::exists(settings.stagingDir())) << "left behind";
    for (const auto& entry : fs::directory_iterator(settings.supportDir))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".wine-download-")) << entry.path();
}

// One row per error the user can be shown, and the bounds on a body: the free space, but 256 MiB
// (268435456 bytes), and an announced length.
const HttpTestServer::Options kNoLength{.announce = ""}, kElsewhere{.redirectTo = "http://elsewhere.example/w.tar.xz"};
INSTANTIATE_TEST_SUITE_P(
    LoopbackServer, InstallOutcomeTest,
    ::testing::Values(
        Row{"RedirectedWithExactlyEnoughSpace", kGood, std::nullopt, kSpace(2'000'000'000)},
        Row{"FreeSpaceAndLengthUnknown", kGood, std::nullopt, kSpace(std::nullopt), kNoLength},
        Row{"SecondInstallWins", kGood, std::nullopt, nullptr, {}, Twist::installedTwice},
        Row{"OneByteShort", kGood, Kind::diskSpaceLow, kSpace(1'999'999'999)},
        Row{"RedirectToPlainHttpElsewhere", kGood, Kind::networkError, nullptr, kElsewhere},
        Row{"AnnouncedBeyondFreeSpace", kGood, Kind::networkError, nullptr, {.announce = "1000000000000"}},
        Row{"UnannouncedBodyBeyondFreeSpace", kGood, Kind::networkError, kSpace(2'000'000'000, 268'535'456), kNoLength},
        Row{"ChunkedPastItsAnnouncedLength", kGood, Kind::networkError, nullptr, {.announce = "1000", .chunked = true}},
        Row{"DigestMismatch", kGood, Kind::checksumMismatch,
            [](Settings& s) { s.expectedSHA256 = platform::Sha256::hex("other"); }},
        Row{"DownloadCannotBeSaved", kGood, Kind::networkError,
            [](Settings& s) { s.archiveName = "missing dir/wine.tar.xz"; }},
        Row{"NotAnArchive", nullptr, Kind::extractionFailed},
        Row{"TarCannotStart", kGood, Kind::extractionFailed, [](Settings& s) { s.tarPath = "/nonexistent/tar"; }},
        Row{"NoWineBinary", "", Kind::extractionFailed},
        Row{"RuntimeCannotBeReplaced", kGood, Kind::extractionFailed, nullptr, {}, Twist::runtimePinned},
        Row{"VersionMismatch", "wine-11.3", Kind::versionMismatch}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// The launcher killed (SIGKILL) at one point of replacing its runtime, then started again: it never takes
// what it left for a runtime (the previous one stays whole until it is removed), and the next
// installation clears the leftovers and succeeds.
class KillPointTest : public ::testing::TestWithParam<const char*> {};

TEST_P(KillPointTest, RestartFindsAWholeRuntimeOrNone) {
    const std::string point = GetParam();
    testsupport::TestHome home;
    const std::string served = buildServedFile(home.root() + "/served", kGood), paused = home.root() + "/paused";
    Settings settings = Settings::defaults();
    settings.expectedSHA256 = platform::Sha256::hex(readFile(served));
    kSpace(100'000'000'000)(settings);
    writeRuntime(settings.wineDir, kGood, "previous");
    const std::string slowTar = home.root() + "/slow-tar";  // unpacks one file, then waits for its launcher's end
    writeFile(slowTar, "#!/bin/sh\n/usr/bin/tar \"$@\" 'Wine Staging.app/Contents/Info.plist' && : >'" + paused +
                           "' && while kill -0 $PPID 2>/dev/null; do sleep 0.05; done\n");
    fs::permissions(slowTar, fs::perms::owner_all);
    const pid_t launcher = ::fork();  // the launcher, forked while this process runs no other thread
    if (launcher == 0) {
        HttpTestServer server({served});
        settings.downloadURL = server.url();
        settings.tarPath = point == "unpacking" ? slowTar : settings.tarPath;
        settings.checkpoint = [&](const std::string& reached) {  // "verified", "runtime removed"
            if (reached == point) writeFile(paused, ""), ::pause();
        };
        WineDownloader downloader(settings);
        downloader.install([&](double) { settings.checkpoint("download"); }, [](const DownloadResult&) {});
        for (;;) ::pause();
    }
    for (int i = 0; i < 3000 && !fs::exists(paused); ++i) std::this_thread::sleep_for(10ms);  // catches a hang
    ::kill(launcher, SIGKILL);
    ASSERT_TRUE(::waitpid(launcher, nullptr, 0) == launcher && fs::exists(paused));
    const bool stillInstalled = point != "runtime removed";
    HttpTestServer server({served});
    settings.downloadURL = server.url();
    Outcome again;
    WineDownloader restarted(settings);
    EXPECT_EQ(restarted.isInstalled(), stillInstalled);
    EXPECT_EQ(readFile(settings.wineDir + "/fixture-marker"), stillInstalled ? "previous" : "");
    again.install(restarted);
    ASSERT_EQ(again.done.wait_for(120s), std::future_status::ready);
    EXPECT_FALSE(again.results[0]) << again.results[0]->message;
    EXPECT_TRUE(restarted.isInstalled());
    EXPECT_EQ(readFile(settings.wineDir + "/fixture-marker"), "fresh");
    EXPECT_EQ(std::distance(fs::directory_iterator(settings.supportDir), {}), 2) << "wine and launcher.log only";
}

std::string withoutBlanks(const ::testing::TestParamInfo<const char*>& info) {
    std::string name = info.param;
    return std::erase(name, ' '), name;
}
INSTANTIATE_TEST_SUITE_P(Install, KillPointTest,
                         ::testing::Values("download", "verified", "unpacking", "runtime removed"), withoutBlanks);

}  // namespace

// A runtime archive whose members reach outside the staging directory ("../", absolute, through a
// link it carries) writes nothing there, even with a digest that vouches for it.
TEST(WineDownloaderTest, ArchiveMembersStayInsideTheStagingDirectory) {
    testsupport::TestHome home;
    const std::string work = home.root() + "/craft", outside = home.root() + "/outside", tar = "/usr/bin/tar";
    const std::string archive = home.root() + "/hostile.tar", tree = std::string(kWineTree).substr(1);
    writeRuntime(work + "/a/b/" + tree, kGood, "hostile");
    writeFile(work + "/a/escaped-up.txt", "up");
    writeFile(outside + "/escaped-absolute.txt", "absolute");
    writeFile(work + "/via/link/escaped-through-link.txt", "through a link");
    fs::create_directories(outside + "/target");
    fs::create_directory_symlink(outside + "/target", work + "/link");
    for (const std::vector<std::string>& args :  // -P keeps "../" and absolute names; the link comes first
         {std::vector<std::string>{"-cPf", archive, "-C", work + "/a/b", tree, "../../a/escaped-up.txt",
                                   outside + "/escaped-absolute.txt"},
          {"-rf", archive, "-C", work, "link"},
          {"-rf", archive, "-C", work + "/via", "link/escaped-through-link.txt"}})
        ASSERT_EQ(platform::Subprocess::run({tar, args, {}, platform::OutputMode::Null})->exit.status, 0);
    fs::remove(outside + "/escaped-absolute.txt");
    HttpTestServer server({archive});
    Settings settings = Settings::defaults();
    settings.downloadURL = server.url();
    settings.expectedSHA256 = platform::Sha256::hex(readFile(archive));
    kSpace(100'000'000'000)(settings);
    Outcome outcome;
    {
        WineDownloader downloader(settings);
        outcome.install(downloader);
        ASSERT_EQ(outcome.done.wait_for(60s), std::future_status::ready);
    }
    // "../../a/escaped-up.txt", seen from the staging directory (Ferrowick/wine.partial).
    EXPECT_FALSE(fs::exists(home.home() + "/Library/Application Support/a/escaped-up.txt"));
    EXPECT_FALSE(fs::exists(outside + "/escaped-absolute.txt"));
    EXPECT_TRUE(fs::is_empty(outside + "/target"));
}

// The download quarantine mark is removed from the whole unpacked tree, after tar and before the tree
// moves into place: xattr -r -d com.apple.quarantine on the staging directory. Its outcome is ignored,
// a failing xattr included.
TEST(WineDownloaderTest, QuarantineMarkIsRemovedFromTheUnpackedTree) {
    testsupport::TestHome home;
    const std::string served = buildServedFile(home.root() + "/served", kGood);
    const testsupport::ToolStandIn xattr(home.root() + "/tools", "xattr");
    for (const std::string& tool : {xattr.path(), testsupport::testProgram("argdump")}) {  // the latter exits 64
        HttpTestServer server({served});
        Settings settings = Settings::defaults();
        settings.downloadURL = server.url();
        settings.expectedSHA256 = platform::Sha256::hex(readFile(served));
        settings.xattrPath = tool;
        kSpace(100'000'000'000)(settings);
        Outcome outcome;
        WineDownloader downloader(settings);
        outcome.install(downloader);
        ASSERT_EQ(outcome.done.wait_for(120s), std::future_status::ready);
        EXPECT_FALSE(outcome.results[0]) << tool << ": " << outcome.results[0]->message;
        EXPECT_TRUE(downloader.isInstalled()) << tool;
    }
    const std::string staging = home.home() + "/Library/Application Support/Ferrowick/wine.partial";
    EXPECT_EQ(xattr.calls(), (std::vector<testsupport::ToolStandIn::Call>{
                                 {{"-r", "-d", "com.apple.quarantine", staging}, {"Wine Staging.app"}}}));
}
