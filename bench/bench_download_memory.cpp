// Peak resident memory of a whole install attempt on a 512 MB archive:
// download and verification must stream, so the peak may grow by less than
// 32 MB. The archive is not a tar file, so the attempt ends in tar.
#include <cstdio>

#include "BenchUtil.h"
#include "support/HttpTestServer.h"
#include "support/TestHome.h"
#include "wine/WineDownloader.h"

int main() {
    testsupport::TestHome home;
    constexpr uint64_t kBytes = 512ull * 1000 * 1000;
    const std::string source = home.root() + "/payload.bin";
    benchutil::writePatternFile(source, kBytes);
    testsupport::HttpTestServer::Options options;
    options.filePath = source;
    testsupport::HttpTestServer server(options);

    WineDownloader::Settings settings = WineDownloader::Settings::defaults();
    settings.downloadURL = server.url();
    settings.expectedSHA256 = benchutil::fileDigest(source);
    WineDownloader downloader(settings);

    const uint64_t before = benchutil::peakResidentBytes();
    const DownloadResult outcome = benchutil::install(downloader);
    const uint64_t after = benchutil::peakResidentBytes();

    const bool verified = outcome && outcome->kind == DownloadError::Kind::extractionFailed;
    if (!verified) std::fprintf(stderr, "the attempt did not reach the unpacking step\n");
    const double growthMB = (after - before) / 1e6;
    benchutil::printRow({9, "Peak resident memory growth, download and verification of 512 MB",
                         benchutil::format("%.1f MB", growthMB), "-", "-", "< 32 MB", verified && growthMB < 32});
    return 0;
}
