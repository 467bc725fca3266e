// SHA-256 verification of a 1 GiB archive against `openssl dgst -sha256` of
// the same file in the same run (page cache warm for both).
#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchUtil.h"
#include "support/TestHome.h"
#include "wine/WineDownloader.h"

int main() {
    testsupport::TestHome home;
    constexpr uint64_t kBytes = 1ull << 30;
    const std::string file = home.root() + "/archive.bin";
    benchutil::writePatternFile(file, kBytes);

    const std::string expected = benchutil::fileDigest(file);

    std::vector<double> ours, openssl;
    for (int round = 0; round < 5; ++round) {
        openssl.push_back(benchutil::secondsOf([&] {
            if (!benchutil::runTool("/usr/bin/openssl", {"dgst", "-sha256", file})) std::perror("openssl");
        }));
        ours.push_back(benchutil::secondsOf([&] {
            if (!WineDownloader::verifySHA256(file, expected)) std::fprintf(stderr, "verify mismatch\n");
        }));
    }
    const double mine = benchutil::median(ours), theirs = benchutil::median(openssl);
    benchutil::printRow({8, "SHA-256 verification of 1 GiB (time)", benchutil::format("%.2f s", mine),
                         benchutil::format("openssl dgst -sha256 %.2f s", theirs),
                         benchutil::format("%.2fx", mine / theirs), "<= 1.10x", mine / theirs <= 1.1});
    return 0;
}
