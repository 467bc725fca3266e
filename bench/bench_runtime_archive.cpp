// A runtime archive of realistic size: a 300 MB .tar.xz (420 MB unpacked) of
// incompressible and compressible files, downloaded from a loopback server, verified and
// unpacked by WineDownloader, against `curl | sha256sum` plus `tar -xJf` of
// the same archive in the same run. The archive takes a while to make on two
// cores, so it is kept in the build directory between runs.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "common/Constants.h"
#include "support/HttpTestServer.h"
#include "support/TestHome.h"
#include "wine/WineDownloader.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 3;
constexpr int kIncompressibleFiles = 135, kTextFiles = 300;  // 2 MB and 0.5 MB each
constexpr uint64_t kIncompressibleBytes = 2'000'000, kTextBytes = 500'000;

// Text of words from a small vocabulary, as resource and data files compress.
void writeTextFile(const std::string& path, uint64_t bytes, uint64_t seed) {
    static const char* const words[] = {"wine",   "prefix", "server", "registry", "dll",    "kernel32", "user32",
                                        "gdi32",  "ntdll",  "window", "message",  "thread", "process",  "handle",
                                        "module", "export", "import", "section",  "symbol", "version"};
    std::string text;
    uint64_t x = 0x2545F4914F6CDD1Dull + seed;
    while (text.size() < bytes) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        text += words[x % std::size(words)];
        text += (x >> 32) % 12 == 0 ? '\n' : ' ';
    }
    text.resize(bytes);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The cached archive, made when missing: the demo runtime's wrappers (whose
// `wine --version` the installation checks) and the padding files.
std::string cachedArchive() {
    const std::string dir = FERROWICK_BENCH_CACHE_DIR, archive = dir + "/runtime-300MB-v2.tar.xz";
    if (fs::exists(archive)) return archive;
    const std::string stage = dir + "/stage", wine = stage + benchutil::kRuntimeInStage;
    fs::remove_all(stage);
    fs::create_directories(wine + "/bin");
    for (const char* tool : {"wine", "wineserver"})
        fs::copy(FERROWICK_SOURCE_DIR "/demo/runtime/" + std::string(tool), wine + "/bin");
    fs::create_directories(wine + "/lib/wine/x86_64-windows");
    fs::create_directories(wine + "/share/wine/nls");
    for (int i = 0; i < kIncompressibleFiles; ++i)
        benchutil::writePatternFile(wine + "/lib/wine/x86_64-windows/module" + std::to_string(i) + ".dll",
                                    kIncompressibleBytes, i + 1);
    for (int i = 0; i < kTextFiles; ++i)
        writeTextFile(wine + "/share/wine/nls/table" + std::to_string(i) + ".txt", kTextBytes, i + 1);
    std::printf("making the 300 MB archive (kept in %s)\n", dir.c_str());
    const bool packed = benchutil::packRuntime(stage, archive + ".partial", "-0 -T2");
    fs::remove_all(stage);
    if (!packed) return "";
    fs::rename(archive + ".partial", archive);
    return archive;
}

}  // namespace

int main() {
    testsupport::TestHome home;
    const std::string archive = cachedArchive();
    if (archive.empty()) {
        std::fprintf(stderr, "packing the 300 MB archive failed\n");
        return 1;
    }
    testsupport::HttpTestServer server({.filePath = archive});
    auto settings = WineDownloader::Settings::defaults();
    settings.downloadURL = server.url();
    settings.expectedSHA256 = benchutil::fileDigest(archive);  // also warms the page cache
    const std::string unpacked = home.tmp() + "/unpacked";
    const platform::SubprocessSpec download{"/bin/sh",
                                            {"-c", "curl -s '" + server.url() + "' | sha256sum"},
                                            benchutil::pathOnly(),
                                            platform::OutputMode::Pipe};
    const platform::SubprocessSpec unpack{
        "/usr/bin/tar", {"-xJf", archive, "-C", unpacked}, benchutil::pathOnly(), platform::OutputMode::Pipe};

    std::vector<double> ours, anchor;
    for (int round = 0; round < kRounds; ++round) {
        fs::create_directories(unpacked);
        std::string digest;
        anchor.push_back(benchutil::secondsOf([&] {
            const auto summed = platform::Subprocess::run(download);
            digest = summed ? summed->output.substr(0, 64) : "";
            (void)platform::Subprocess::run(unpack);
        }));
        if (digest != settings.expectedSHA256) std::fprintf(stderr, "curl | sha256sum gave %s\n", digest.c_str());
        fs::remove_all(unpacked);

        WineDownloader downloader(settings);
        DownloadResult outcome;
        ours.push_back(benchutil::secondsOf([&] { outcome = benchutil::install(downloader); }));
        if (outcome) std::fprintf(stderr, "installing the 300 MB runtime failed: %s\n", outcome->message.c_str());
        fs::remove_all(Constants::wineDir());
    }
    const double mine = benchutil::median(ours), theirs = benchutil::median(anchor);
    std::printf("archive: %ju bytes\n", static_cast<uintmax_t>(fs::file_size(archive)));
    benchutil::printRow({10, "Runtime archive of 300 MB (.tar.xz): download, verify, unpack (time)",
                         benchutil::format("%.2f s", mine),
                         benchutil::format("curl piped into sha256sum, then tar -xJf %.2f s", theirs),
                         benchutil::format("%.2fx", mine / theirs), "<= 1.10x", mine / theirs <= 1.1});
    return 0;
}
