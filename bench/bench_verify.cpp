// SHA-256 verification of a 1 GiB archive against `openssl dgst -sha256` of
// the same file in the same run (page cache warm for both).
#include <algorithm>
#include <cstdio>

#include "BenchUtil.h"
#include "support/TestHome.h"
#include "wine/WineDownloader.h"

int main() {
    testsupport::TestHome home;
    constexpr uint64_t kBytes = 1ull << 30;
    const std::string file = home.root() + "/archive.bin";
    benchutil::writePatternFile(file, kBytes);

    const std::string expected = benchutil::fileDigest(file);

    double bestOurs = 1e9, bestOpenssl = 1e9;
    for (int round = 0; round < 3; ++round) {
        bestOpenssl = std::min(bestOpenssl, benchutil::secondsOf([&] {
                                   if (!benchutil::runTool("/usr/bin/openssl", {"dgst", "-sha256", file}))
                                       std::perror("openssl");
                               }));
        bestOurs = std::min(bestOurs, benchutil::secondsOf([&] {
                                if (!WineDownloader::verifySHA256(file, expected))
                                    std::fprintf(stderr, "verify mismatch\n");
                            }));
    }
    std::printf("verify 1 GiB: verifySHA256 %.2f s, openssl dgst -sha256 %.2f s\n", bestOurs, bestOpenssl);
    std::printf("time ratio (verifySHA256 / openssl, target <= 1.15): %.2f\n", bestOurs / bestOpenssl);
    return 0;
}
