// Loopback download throughput of the runtime transfer against `curl -s -o`
// fetching the same 512 MB file from the same server in the same run.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

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

    std::vector<double> ours, curl;
    for (int round = 0; round < 5; ++round) {
        curl.push_back(benchutil::secondsOf([&] {
            if (!benchutil::runTool("/usr/bin/curl", {"-s", "-o", target, server.url()})) std::perror("curl");
        }));
        std::filesystem::remove(target);
        ours.push_back(benchutil::secondsOf([&] {
            const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            const auto r = DownloadTransfer::run(server.url(), fd, {}, {}, nullptr);
            ::close(fd);
            if (!r.ok) std::fprintf(stderr, "transfer failed: %s\n", r.fullDescription.c_str());
        }));
        if (std::filesystem::file_size(target) != kBytes) std::fprintf(stderr, "short download\n");
        std::filesystem::remove(target);
    }
    const double oursMBps = kBytes / benchutil::median(ours) / 1e6, curlMBps = kBytes / benchutil::median(curl) / 1e6;
    benchutil::printRow({7, "Loopback download of 512 MB (throughput)", benchutil::format("%.0f MB/s", oursMBps),
                         benchutil::format("curl -s -o %.0f MB/s", curlMBps),
                         benchutil::format("%.2fx", oursMBps / curlMBps), ">= 0.90x", oursMBps / curlMBps >= 0.9});
    return 0;
}
