// Launcher-log throughput: 8 threads logging at once through Logger against
// 8 threads that open, append and close per line in a bare loop, the work the
// log must do so that each line is on disk when the call returns and a
// deleted log is not recreated. The bare loop writes lines of the same length
// and takes no lock (O_APPEND writes do not interleave on a local disk).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
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

// `line` run kThreads * kLinesPerThread times in all, spread over `threads` threads.
double linesSeconds(int threads, const std::function<void()>& line) {
    return benchutil::secondsOf([&] {
        std::vector<std::thread> running;
        for (int t = 0; t < threads; ++t) {
            running.emplace_back([&] {
                for (int i = 0; i < kThreads * kLinesPerThread / threads; ++i) line();
            });
        }
        for (auto& thread : running) thread.join();
    });
}

}  // namespace

int main() {
    testsupport::TestHome home;
    Logger& log = Logger::shared();  // empties and creates the log
    // Beside the launcher log, so that both opens walk the same path.
    const std::string plain = std::filesystem::path(Logger::logPath()).replace_filename("plain.log").string();
    // The same bytes per line as the launcher's: "[HH:mm:ss.SSS] [PERF] " + message + "\n".
    const std::string bareLine = "[12:34:56.789] [PERF] " + kMessage + "\n";
    const auto bareAppend = [&] {
        const int fd = ::open(plain.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (::write(fd, bareLine.data(), bareLine.size()) != static_cast<ssize_t>(bareLine.size()))
            std::perror("write");
        ::close(fd);
    };
    const auto loggerLine = [&] { log.perf(kMessage); };
    std::vector<double> ours, anchor, single;
    for (int round = 0; round < 7; ++round) {
        std::ofstream(plain, std::ios::trunc).flush();
        anchor.push_back(linesSeconds(kThreads, bareAppend));
        std::filesystem::resize_file(Logger::logPath(), 0);
        ours.push_back(linesSeconds(kThreads, loggerLine));
        std::filesystem::resize_file(Logger::logPath(), 0);
        single.push_back(linesSeconds(1, loggerLine));
    }
    const double lines = kThreads * kLinesPerThread;
    const double oursRate = lines / benchutil::median(ours), anchorRate = lines / benchutil::median(anchor);
    std::printf("Logger from one thread: %.0f k lines/s\n", lines / benchutil::median(single) / 1e3);
    std::printf("bare log size after the last round: %ju bytes\n",
                static_cast<uintmax_t>(std::filesystem::file_size(plain)));
    benchutil::printRow({14, "Launcher-log throughput, 8 threads", benchutil::format("%.0f k lines/s", oursRate / 1e3),
                         benchutil::format("8 threads, open + append + close %.0f k lines/s", anchorRate / 1e3),
                         benchutil::format("%.2fx", oursRate / anchorRate), ">= 0.80x", oursRate / anchorRate >= 0.8});
    return 0;
}
