// The two DLL checks hash each of the six artifacts with one shasum run, so
// their cost should be that of six bare shasum runs plus a little for reading
// runtime.lock and checking that files exist. Anchor: six bare shasum runs of
// the same files, measured interleaved in the same run. Target: within 1.3x.
// Not a row of bench/run's table (the return start covers these checks); run
// it by name: bench/run dll.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "platform/Subprocess.h"
#include "runtime/RuntimeValidator.h"
#include "support/GraphicsBundle.h"
#include "support/TestHome.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;

int main() {
    testsupport::TestHome home;
    testsupport::GraphicsBundle bundle(home.bundle());
    PrefixManager manager;
    const std::string& prefix = manager.prefixPath();
    std::vector<std::string> files;
    for (const auto& artifact : bundle.manifest().artifacts) {
        files.push_back(bundle.fileOf(artifact));
        const std::string target = RuntimeValidator::deployedPath(prefix, artifact);
        fs::create_directories(fs::path(target).parent_path());
        fs::copy_file(bundle.fileOf(artifact), target);
    }

    auto bareShasum = [&] {
        for (const auto& file : files) {
            platform::SubprocessSpec child;
            child.executable = "/usr/bin/shasum";
            child.arguments = {"-a", "256", file};
            child.output = platform::OutputMode::PipeStdout;
            (void)platform::Subprocess::run(child);
        }
    };
    auto validate = [] {
        if (RuntimeValidator::validateBundledDLLs()) std::fprintf(stderr, "bundle unexpectedly invalid\n");
    };
    auto deployed = [&] {
        if (!manager.mesaDLLsDeployed()) std::fprintf(stderr, "deployed DLLs unexpectedly stale\n");
    };

    constexpr int kRounds = 15;
    std::vector<double> anchor, validateTimes, deployedTimes;
    bareShasum();  // warm the page cache and perl's files
    for (int i = 0; i < kRounds; ++i) {
        anchor.push_back(benchutil::secondsOf(bareShasum));
        validateTimes.push_back(benchutil::secondsOf(validate));
        deployedTimes.push_back(benchutil::secondsOf(deployed));
    }
    const double base = benchutil::median(anchor);
    const struct {
        const char* name;
        double time;
    } rows[] = {{"validateBundledDLLs", benchutil::median(validateTimes)},
                {"mesaDLLsDeployed", benchutil::median(deployedTimes)}};
    std::printf("anchor: six bare shasum runs, median %.1f ms over %d rounds\n", base * 1000, kRounds);
    bool ok = true;
    for (const auto& row : rows) {
        const double ratio = row.time / base;
        ok = ok && ratio <= 1.3;
        std::printf("%-22s %.2fx anchor (target <= 1.30x) %s\n", row.name, ratio, ratio <= 1.3 ? "ok" : "OVER");
    }
    return ok ? 0 : 1;
}
