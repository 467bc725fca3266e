#pragma once

// Shared by the benchmark programs: big pattern files, wall-clock timing,
// child processes as anchors, and the process's peak resident memory.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Sha256.h"
#include "platform/Subprocess.h"
#include "wine/WineDownloader.h"

namespace benchutil {

// Writes `bytes` of incompressible data in 1 MiB blocks (never all at once);
// another `seed` gives other data.
inline void writePatternFile(const std::string& path, uint64_t bytes, uint64_t seed = 0) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> block((1 << 20) / sizeof(uint64_t));
    uint64_t x = 0x9E3779B97F4A7C15ull + seed;
    for (uint64_t written = 0; written < bytes; written += block.size() * sizeof(uint64_t)) {
        for (auto& word : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
        const auto n = std::min<uint64_t>(bytes - written, block.size() * sizeof(uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    }
}

// Packs `stage`'s "Wine Staging.app" as the runtime archive is laid out, with
// xz at `xzOptions`; false when tar failed.
inline bool packRuntime(const std::string& stage, const std::string& archive, const std::string& xzOptions) {
    platform::SubprocessSpec tar{"/usr/bin/tar",
                                 {"-cJf", archive, "-C", stage, "Wine Staging.app"},
                                 {{"PATH", "/usr/bin:/bin"}, {"XZ_OPT", xzOptions}}};
    const auto packed = platform::Subprocess::run(tar);
    return packed && packed->exit.status == 0 && !packed->exit.signaled;
}
inline const std::string kRuntimeInStage = "/Wine Staging.app/Contents/Resources/wine";

inline double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline std::map<std::string, std::string> pathOnly() {
    return {{"PATH", "/usr/bin:/bin"}};
}

// Runs a system tool to completion with its output discarded; false when it
// could not start or failed.
inline bool runTool(const std::string& executable, std::vector<std::string> arguments) {
    platform::SubprocessSpec child;
    child.executable = executable;
    child.arguments = std::move(arguments);
    child.environment = pathOnly();
    auto r = platform::Subprocess::run(child);
    return r && r->exit.status == 0 && !r->exit.signaled;
}

// SHA-256 of a file, read in 1 MiB chunks (also warms the page cache).
inline std::string fileDigest(const std::string& path) {
    platform::Sha256 digest;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
        digest.update(chunk.data(), static_cast<size_t>(in.gcount()));
    }
    return digest.finalizeHex();
}

// Runs one whole installation and waits for its outcome.
inline DownloadResult install(WineDownloader& downloader) {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    DownloadResult outcome;
    downloader.install({}, [&](const DownloadResult& r) {
        std::lock_guard lock(mutex);
        outcome = r;
        done = true;
        cv.notify_all();
    });
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return done; });
    return outcome;
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
inline std::string format(const char* pattern, ...) {
    char text[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

// One row of bench/run's table, tab-separated after "ROW" and the row's place
// in the table; everything else a benchmark prints is detail for its log.
struct Row {
    int order;
    std::string figure, ours, anchor, ratio, target;
    bool pass;
};

inline void printRow(const Row& r) {
    std::printf("ROW\t%02d\t%s\t%s\t%s\t%s\t%s\t%s\n", r.order, r.figure.c_str(), r.ours.c_str(), r.anchor.c_str(),
                r.ratio.c_str(), r.target.c_str(), r.pass ? "PASS" : "MISS");
    std::fflush(stdout);
}

// How long the calling thread has been runnable but waiting for a CPU, in
// milliseconds (the kernel's run-queue delay). Subtracted from a stall, it
// leaves what the thread itself was busy with or blocked on, not the time a
// loaded machine kept it from running.
inline double runQueueWaitMs() {
    std::ifstream schedstat("/proc/thread-self/schedstat");
    unsigned long long running = 0, waiting = 0;
    schedstat >> running >> waiting;
    return static_cast<double>(waiting) / 1e6;
}

// Peak resident set size so far, in bytes (VmHWM).
inline uint64_t peakResidentBytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
    }
    return 0;
}

}  // namespace benchutil
