// Stands in for the launcher in the kill-point tests: one runtime installation
// with the built-in paths (under $HOME), which stops at a named point, prints
// "PAUSED" and waits there to be killed. With the point "none" it runs to the
// end and prints "RESULT ok" or "RESULT <error kind>".
//
// Usage: killpoint_driver URL SHA256 POINT [TAR]
#include <unistd.h>

#include <cstdio>
#include <future>
#include <string>

#include "wine/WineDownloader.h"

[[noreturn]] static void pauseForever() {
    std::printf("PAUSED\n");
    std::fflush(stdout);
    for (;;) ::pause();
}

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string point = argv[3];
    WineDownloader::Settings settings = WineDownloader::Settings::defaults();
    settings.downloadURL = argv[1];
    settings.expectedSHA256 = argv[2];
    if (argc > 4) settings.tarPath = argv[4];
    settings.freeSpace = [](const std::string&) { return std::optional<uint64_t>(100'000'000'000); };
    settings.checkpoint = [point](const std::string& reached) {
        if (reached == point) pauseForever();
    };

    std::promise<DownloadResult> outcome;
    WineDownloader downloader(settings);
    downloader.install(
        [&point](double) {
            if (point == "download") pauseForever();
        },
        [&](const DownloadResult& result) { outcome.set_value(result); });
    const DownloadResult result = outcome.get_future().get();
    std::printf("RESULT %s\n", result ? std::to_string(static_cast<int>(result->kind)).c_str() : "ok");
    return result ? 1 : 0;
}
