// Prefix service costs, each as a ratio to an anchor measured in the same run:
//   prefixSizeBytes on 100,000 files   vs  du -s -b of the same tree
//   runWine("--version")               vs  the same fake wine started directly
//   runWine with a 50 MB setup log     vs  the same direct start
// The fake Wine runtime of the tests stands in for Wine.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "logging/Logger.h"
#include "platform/Subprocess.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/Constants.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;

namespace {

// Median wall time of `runs` calls, in seconds; `before` runs untimed first.
double median(int runs, const std::function<void()>& body, const std::function<void()>& before = {}) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (before) before();
        const auto start = std::chrono::steady_clock::now();
        body();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void makeTree(const std::string& root, int dirs, int filesPerDir) {
    const std::string content(100, 'p');
    for (int d = 0; d < dirs; ++d) {
        const std::string dir = root + "/drive_c/dir " + std::to_string(d);
        fs::create_directories(dir);
        for (int f = 0; f < filesPerDir; ++f) std::ofstream(dir + "/file" + std::to_string(f) + ".dll") << content;
    }
}

void report(const char* what, double seconds, const char* anchor, double anchorSeconds) {
    std::printf("%-44s %9.3f ms   %5.2fx %s (%.3f ms)\n", what, seconds * 1e3, seconds / anchorSeconds, anchor,
                anchorSeconds * 1e3);
}

}  // namespace

int main() {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    Logger::shared();

    // prefixSizeBytes against du on 100,000 files.
    const std::string prefix = home.root() + "/size prefix";
    makeTree(prefix, 100, 1000);
    PrefixManager sized(prefix);
    const platform::SubprocessSpec du{"/usr/bin/du", {"-s", "-b", prefix}, {}, platform::OutputMode::Pipe};
    int64_t bytes = 0;
    (void)sized.prefixSizeBytes();  // warm the inode cache for both
    const double duTime = median(7, [&] { (void)platform::Subprocess::run(du); });
    const double sizeTime = median(7, [&] { bytes = sized.prefixSizeBytes(); });
    std::printf("tree: 100,000 files, %lld bytes\n", static_cast<long long>(bytes));
    report("prefixSizeBytes (100,000 files)", sizeTime, "du -s -b", duTime);

    // runWine overhead against starting the same program directly.
    PrefixManager manager;
    const platform::SubprocessSpec direct{Constants::wineBin(),
                                          {"--version"},
                                          Constants::buildSafeEnvironment(Constants::prefixPath()),
                                          platform::OutputMode::Pipe};
    const std::string log = PrefixManager::setupLogPath();
    const double directTime = median(41, [&] { (void)platform::Subprocess::run(direct); });
    const double runWineTime = median(
        41, [&] { (void)manager.runWine({"--version"}); }, [&] { fs::remove(log); });
    report("runWine --version (fresh setup log)", runWineTime, "direct start", directTime);

    // The same with a 50 MB setup log. Rewritten before each run, the log is new to the launcher
    // every time (its first command after a start); written once, later commands only append.
    const std::string fifty(50u << 20, 'L');
    const double bigLogTime = median(
        15, [&] { (void)manager.runWine({"--version"}); }, [&] { std::ofstream(log, std::ios::trunc) << fifty; });
    report("runWine --version (50 MB log, first command)", bigLogTime, "direct start", directTime);
    std::ofstream(log, std::ios::trunc) << fifty;
    (void)manager.runWine({"--version"});
    const double laterTime = median(41, [&] { (void)manager.runWine({"--version"}); });
    report("runWine --version (50 MB log, later commands)", laterTime, "direct start", directTime);
    std::printf("setup-log append cost at 50 MB: %.1f ms the first command, %.1f ms each later one\n",
                (bigLogTime - runWineTime) * 1e3, (laterTime - runWineTime) * 1e3);
    fs::remove_all(prefix);
    return 0;
}
