// Stands in for the launcher in the kill-point tests: one runtime installation with the built-in paths
// (under $HOME) that stops at POINT, creates $HOME/paused and waits there to be killed; with any other
// point it exits 0 once installed. Usage: killpoint_driver URL SHA256 POINT [TAR]
#include <unistd.h>

#include <fstream>
#include <future>

#include "wine/WineDownloader.h"

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const auto stopAt = [point = std::string(argv[3])](const std::string& reached) {
        if (reached != point) return;
        std::ofstream marker(std::string(std::getenv("HOME")) + "/paused");
        for (marker.close();;) ::pause();
    };
    WineDownloader::Settings settings = WineDownloader::Settings::defaults();
    settings.downloadURL = argv[1];
    settings.expectedSHA256 = argv[2];
    if (argc > 4) settings.tarPath = argv[4];
    settings.freeSpace = [](const std::string&) { return std::optional<uint64_t>(100'000'000'000); };
    settings.checkpoint = stopAt;  // "verified", "runtime removed"
    std::promise<DownloadResult> outcome;
    WineDownloader downloader(settings);
    downloader.install([&](double) { stopAt("download"); }, [&](const DownloadResult& r) { outcome.set_value(r); });
    return outcome.get_future().get() ? 1 : 0;
}
