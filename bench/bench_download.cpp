// Loopback download throughput of the runtime transfer against `curl -s -o`
// fetching the same 512 MB file from the same server in the same run.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "BenchUtil.h"
#include "support/HttpTestServer.h"
#include "support/TestHome.h"
#include "wine/DownloadTransfer.h"

int main() {
    testsupport::TestHome home;
    constexpr uint64_t kBytes = 512ull * 1000 * 1000;
    const std::string source = home.root() + "/payload.bin";
    const std::string target = home.root() + "/received.bin";
    benchutil::writePatternFile(source, kBytes);

    testsupport::HttpTestServer::Options options;
    options.filePath = source;
    testsupport::HttpTestServer server(options);

    double bestOurs = 1e9, bestCurl = 1e9;
    for (int round = 0; round < 3; ++round) {
        bestCurl = std::min(bestCurl, benchutil::secondsOf([&] {
                                if (!benchutil::runTool("/usr/bin/curl", {"-s", "-o", target, server.url()}))
                                    std::perror("curl");
                            }));
        std::filesystem::remove(target);
        bestOurs = std::min(bestOurs, benchutil::secondsOf([&] {
                                const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                                const auto r = DownloadTransfer::run(server.url(), fd, {}, {}, nullptr);
                                ::close(fd);
                                if (!r.ok) std::fprintf(stderr, "transfer failed: %s\n", r.fullDescription.c_str());
                            }));
        if (std::filesystem::file_size(target) != kBytes) std::fprintf(stderr, "short download\n");
        std::filesystem::remove(target);
    }
    const double mbps = [&](double s) { return kBytes / s / 1e6; }(bestOurs);
    std::printf("download 512 MB over loopback: transfer %.0f MB/s, curl -s -o %.0f MB/s\n", mbps,
                kBytes / bestCurl / 1e6);
    std::printf("throughput ratio (transfer / curl, target >= 0.80): %.2f\n", bestCurl / bestOurs);
    return 0;
}
