#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

// One HTTP(S) download into an open file, with libcurl behind the scenes.
// Blocking: it runs on the caller's thread (the downloader's session thread).
namespace DownloadTransfer {

enum class URLCheck {
    allowed,   // https, or plain http to this computer
    invalid,   // does not parse as an absolute URL with a host
    insecure,  // plain http to another host, or a scheme we never fetch
};

// Pure: decides whether a URL may be fetched. Plain http is accepted only for
// loopback hosts (localhost, 127.0.0.0/8, ::1), which the local demo and the
// tests use; everything that leaves the machine must be https.
[[nodiscard]] URLCheck checkURL(const std::string& url);

struct Limits {
    std::chrono::milliseconds total{600'000};  // the whole transfer, redirects included
    std::chrono::milliseconds idle{60'000};    // connecting, or no data arriving
    int maxRedirects = 16;
    // The largest body we accept: an announced length above it is refused at
    // once, and a body growing past it (or past its announced length) is cut off.
    uint64_t maxBodyBytes = UINT64_MAX;
};

struct Result {
    bool ok = false;
    std::string description;      // short text of the failure
    std::string fullDescription;  // the same with the library's details, for the log
};

// Called for every block written, with the bytes so far and the announced
// length (<= 0 when the server did not send one). Redirect bodies are skipped.
using Progress = std::function<void(int64_t written, int64_t expected)>;

// Fetches `url` into `fd`, following redirects that pass checkURL. The HTTP
// status is not judged: whatever body the final response has is the
// download. Setting `*cancel` aborts the transfer at its next block.
[[nodiscard]] Result run(const std::string& url, int fd, const Limits& limits, const Progress& progress,
                         const std::atomic<bool>* cancel);

}  // namespace DownloadTransfer
