// Launcher-log throughput: 8 threads logging at once through Logger against
// one thread appending the same lines with plain write() on one O_APPEND
// descriptor. Logger opens, appends and closes for every line, so each line is
// on disk when the call returns; the anchor keeps its descriptor open.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "logging/Logger.h"
#include "support/TestHome.h"

namespace {

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 5000;
const std::string kMessage = "wineboot completed in 4.2s, prefix ready for the graphics components";

// The same number of lines from `threads` threads.
double loggerSeconds(int threads) {
    Logger& log = Logger::shared();
    return benchutil::secondsOf([&] {
        std::vector<std::thread> running;
        for (int t = 0; t < threads; ++t) {
            running.emplace_back([&] {
                for (int i = 0; i < kThreads * kLinesPerThread / threads; ++i) log.perf(kMessage);
            });
        }
        for (auto& thread : running) thread.join();
    });
}

double plainAppendSeconds(const std::string& path) {
    // The same bytes per line as the launcher's: "[HH:mm:ss.SSS] [PERF] " + message + "\n".
    const std::string line = "[12:34:56.789] [PERF] " + kMessage + "\n";
    return benchutil::secondsOf([&] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        for (int i = 0; i < kThreads * kLinesPerThread; ++i) {
            if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::perror("write");
        }
        ::close(fd);
    });
}

}  // namespace

int main() {
    testsupport::TestHome home;
    Logger::shared();  // empties and creates the log
    const std::string plain = home.tmp() + "/plain.log";
    std::vector<double> ours, anchor, single;
    for (int round = 0; round < 7; ++round) {
        anchor.push_back(plainAppendSeconds(plain));
        std::filesystem::resize_file(Logger::logPath(), 0);
        ours.push_back(loggerSeconds(kThreads));
        std::filesystem::resize_file(Logger::logPath(), 0);
        single.push_back(loggerSeconds(1));
    }
    const double lines = kThreads * kLinesPerThread;
    const double oursRate = lines / benchutil::median(ours), anchorRate = lines / benchutil::median(anchor);
    std::printf("Logger from one thread: %.0f k lines/s\n",
                kThreads * kLinesPerThread / benchutil::median(single) / 1e3);
    std::printf("log size after the last round: %ju bytes\n",
                static_cast<uintmax_t>(std::filesystem::file_size(Logger::logPath())));
    benchutil::printRow({13, "Launcher-log throughput, 8 threads", benchutil::format("%.0f k lines/s", oursRate / 1e3),
                         benchutil::format("1 thread, O_APPEND write %.0f k lines/s", anchorRate / 1e3),
                         benchutil::format("%.2fx", oursRate / anchorRate), ">= 0.50x", oursRate / anchorRate >= 0.5});
    return 0;
}
