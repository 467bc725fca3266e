// Prefix service costs against anchors measured in the same run:
//   prefixSizeBytes on 100,000 files   vs  du -s -b of the same tree
//   runWine("--version")               vs  the same fake wine started directly,
//                                          with a fresh and with a 50 MB setup log
//   the first runWine of a run meeting
//   a 50 MB setup log                  vs  a bare read of that log + the direct start
// The fake Wine runtime of the tests stands in for Wine.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "common/Constants.h"
#include "logging/Logger.h"
#include "platform/Subprocess.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;

namespace {

void makeTree(const std::string& root, int dirs, int filesPerDir) {
    const std::string content(100, 'p');
    for (int d = 0; d < dirs; ++d) {
        const std::string dir = root + "/drive_c/dir " + std::to_string(d);
        fs::create_directories(dir);
        for (int f = 0; f < filesPerDir; ++f) std::ofstream(dir + "/file" + std::to_string(f) + ".dll") << content;
    }
}

// Reads the whole file in 1 MiB blocks and drops the bytes: the least a check
// of its content must do.
void readWhole(const std::string& path) {
    static std::vector<char> block(1 << 20);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (::read(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
}

}  // namespace

int main() {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    Logger::shared();

    // prefixSizeBytes against du on 100,000 files, interleaved.
    const std::string prefix = home.root() + "/size prefix";
    makeTree(prefix, 100, 1000);
    PrefixManager sized(prefix);
    const platform::SubprocessSpec du{"/usr/bin/du", {"-s", "-b", prefix}, {}, platform::OutputMode::Pipe};
    int64_t bytes = 0;
    (void)sized.prefixSizeBytes();  // warm the inode cache for both
    std::vector<double> duTimes, sizeTimes;
    for (int i = 0; i < 7; ++i) {
        duTimes.push_back(benchutil::secondsOf([&] { (void)platform::Subprocess::run(du); }));
        sizeTimes.push_back(benchutil::secondsOf([&] { bytes = sized.prefixSizeBytes(); }));
    }
    std::printf("tree: 100,000 files, %lld bytes\n", static_cast<long long>(bytes));
    const double duTime = benchutil::median(duTimes), sizeTime = benchutil::median(sizeTimes);
    benchutil::printRow({11, "prefixSizeBytes over 100,000 files (time)", benchutil::format("%.0f ms", sizeTime * 1e3),
                         benchutil::format("du -s -b %.0f ms", duTime * 1e3),
                         benchutil::format("%.2fx", sizeTime / duTime), "<= 1.20x", sizeTime / duTime <= 1.2});

    // runWine against starting the same program directly, interleaved: with
    // the setup log removed before each call, with a 50 MB log that the calls
    // append to, and with a 50 MB log new to the launcher at every call.
    PrefixManager manager;
    const platform::SubprocessSpec direct{Constants::wineBin(),
                                          {"--version"},
                                          Constants::buildSafeEnvironment(Constants::prefixPath()),
                                          platform::OutputMode::Pipe};
    const std::string log = PrefixManager::setupLogPath();
    const std::string fifty(50u << 20, 'L');
    const auto writeFifty = [&] { std::ofstream(log, std::ios::trunc) << fifty; };
    struct Case {
        int order;
        const char* figure;
        int calls;
        std::function<void()> before, beforeEach;
        bool readsLog;  // whether the anchor reads the log before its start
    } cases[] = {
        {12, "runWine of a no-op fixture, fresh setup log (overhead per call)", 25, [] {}, [&] { fs::remove(log); },
         false},
        // Written once, so every timed command only appends.
        {13, "runWine of a no-op fixture, 50 MB setup log (overhead per call)", 25,
         [&] { writeFifty(), (void)manager.runWine({"--version"}); }, [] {}, false},
        // Rewritten before each call, so each is the first command to meet this
        // log, which it checks once per run.
        {15, "runWine, 50 MB setup log, first command of a launcher run (once per run)", 9, [] {}, writeFifty, true},
    };
    for (const auto& c : cases) {
        c.before();
        std::vector<double> anchorTimes, runWineTimes;
        for (int i = 0; i < c.calls; ++i) {
            c.beforeEach();
            anchorTimes.push_back(benchutil::secondsOf([&] {
                if (c.readsLog) readWhole(log);
                (void)platform::Subprocess::run(direct);
            }));
            runWineTimes.push_back(benchutil::secondsOf([&] { (void)manager.runWine({"--version"}); }));
        }
        const double anchorMs = benchutil::median(anchorTimes) * 1e3, oursMs = benchutil::median(runWineTimes) * 1e3;
        if (c.readsLog) {
            benchutil::printRow({c.order, c.figure, benchutil::format("%.2f ms", oursMs),
                                 benchutil::format("read of the log + direct start %.2f ms", anchorMs),
                                 benchutil::format("%.2fx", oursMs / anchorMs), "<= 1.20x", oursMs / anchorMs <= 1.2});
            continue;
        }
        benchutil::printRow({c.order, c.figure, benchutil::format("%.2f ms (%+.2f ms)", oursMs, oursMs - anchorMs),
                             benchutil::format("direct start %.2f ms", anchorMs),
                             benchutil::format("%.2fx", oursMs / anchorMs), "overhead <= 2 ms",
                             oursMs - anchorMs <= 2});
    }
    fs::remove_all(prefix);
    return 0;
}
