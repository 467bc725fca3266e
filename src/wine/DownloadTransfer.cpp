#include "wine/DownloadTransfer.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

namespace DownloadTransfer {

namespace {

constexpr long kReceiveBufferBytes = 512 * 1024;

struct UrlHandle {
    CURLU* h = curl_url();
    ~UrlHandle() { curl_url_cleanup(h); }
    std::string part(CURLUPart which) const {
        char* text = nullptr;
        if (curl_url_get(h, which, &text, 0) != CURLUE_OK || !text) return {};
        std::string out(text);
        curl_free(text);
        return out;
    }
};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool isLoopbackHost(const std::string& host) {
    if (host == "localhost") return true;
    if (host == "[::1]") return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    return false;
}

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// State shared with curl's callbacks for one hop.
struct Sink {
    CURL* curl = nullptr;
    int fd = -1;
    int64_t written = 0;
    const Progress* progress = nullptr;
    const std::atomic<bool>* cancel = nullptr;
    int writeErrno = 0;
    uint64_t maxBody = UINT64_MAX;
    std::string refusal;  // why the body was refused, when it was

    // Of the response being received, from its header lines.
    long status = 0;
    bool hasLocation = false;
    int64_t announced = -1;  // Content-Length; -1 when none was sent

    bool isRedirect() const { return status >= 300 && status <= 399 && hasLocation; }
};

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::string_view line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        // A new response (after a redirect or a 100 Continue) starts afresh.
        sink->hasLocation = false;
        sink->announced = -1;
        const auto space = line.find(' ');
        sink->status = space == std::string_view::npos ? 0 : std::atol(std::string(line.substr(space + 1, 3)).c_str());
    } else if (line.size() > 9 && lower(std::string(line.substr(0, 9))) == "location:") {
        sink->hasLocation = line.find_first_not_of(" \t\r\n", 9) != std::string_view::npos;
    } else if (line.size() > 15 && lower(std::string(line.substr(0, 15))) == "content-length:") {
        const std::string value(line.substr(15));
        char* end = nullptr;
        errno = 0;
        const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
        if (errno == 0 && end != value.c_str() && value.find('-') == std::string::npos) {
            sink->announced = n > static_cast<unsigned long long>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(n);
        }
    } else if ((line == "\r\n" || line == "\n") && !sink->isRedirect() && sink->announced >= 0 &&
               static_cast<uint64_t>(sink->announced) > sink->maxBody) {
        sink->refusal = "The server announced " + std::to_string(sink->announced) + " bytes, more than the " +
                        std::to_string(sink->maxBody) + " bytes the disk can take";
        return 0;  // curl ends the transfer before any of the body arrives
    }
    return size * count;
}

size_t onData(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t total = size * count;
    if (sink->isRedirect()) return total;  // the body of a redirect is not the download
    const uint64_t after = static_cast<uint64_t>(sink->written) + total;
    if (after > sink->maxBody) {
        sink->refusal = "The download grew past the " + std::to_string(sink->maxBody) + " bytes the disk can take";
        return 0;
    }
    if (sink->announced >= 0 && after > static_cast<uint64_t>(sink->announced)) {
        sink->refusal = "The download grew past its announced length of " + std::to_string(sink->announced) + " bytes";
        return 0;
    }
    size_t done = 0;
    while (done < total) {
        ssize_t n = ::write(sink->fd, data + done, total - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            sink->writeErrno = errno;
            return 0;  // curl turns this into a write error
        }
        done += static_cast<size_t>(n);
    }
    sink->written += static_cast<int64_t>(total);
    if (*sink->progress) {
        curl_off_t expected = -1;
        curl_easy_getinfo(sink->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
        (*sink->progress)(sink->written, static_cast<int64_t>(expected));
    }
    return total;
}

int onTick(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* sink = static_cast<Sink*>(user);
    return (sink->cancel && sink->cancel->load()) ? 1 : 0;
}

Result failure(std::string description, const std::string& detail) {
    Result r;
    r.description = std::move(description);
    r.fullDescription = detail.empty() ? r.description : r.description + " (" + detail + ")";
    return r;
}

}  // namespace

URLCheck checkURL(const std::string& url) {
    initialiseOnce();
    UrlHandle u;
    if (!u.h || curl_url_set(u.h, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        return URLCheck::invalid;
    }
    const std::string scheme = lower(u.part(CURLUPART_SCHEME));
    const std::string host = lower(u.part(CURLUPART_HOST));
    if (host.empty()) return URLCheck::invalid;
    if (scheme == "https") return URLCheck::allowed;
    if (scheme == "http" && isLoopbackHost(host)) return URLCheck::allowed;
    return URLCheck::insecure;
}

Result run(const std::string& url, int fd, const Limits& limits, const Progress& progress,
           const std::atomic<bool>* cancel) {
    initialiseOnce();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), &curl_easy_cleanup);
    if (!handle) return failure("The download could not be set up", "");
    CURL* curl = handle.get();

    Sink sink;
    sink.curl = curl;
    sink.fd = fd;
    sink.progress = &progress;
    sink.cancel = cancel;
    sink.maxBody = limits.maxBodyBytes;
    char errorText[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed by hand below, so each hop passes checkURL.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Ferrowick");
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &onTick);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &sink);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    // The idle limit: no connection, or less than one byte a second, for that long.
    const long idleSeconds = std::max<long>(1, static_cast<long>(limits.idle.count() / 1000));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.idle.count()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, idleSeconds);

    const auto deadline = std::chrono::steady_clock::now() + limits.total;
    std::string current = url;
    for (int hop = 0; hop <= limits.maxRedirects; ++hop) {
        switch (checkURL(current)) {
        case URLCheck::allowed:
            break;
        case URLCheck::invalid:
            return failure("The download address is not a valid URL", current);
        case URLCheck::insecure:
            return failure("Refusing an insecure download address", current);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return failure(curl_easy_strerror(CURLE_OPERATION_TIMEDOUT), "");
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
        curl_easy_setopt(curl, CURLOPT_URL, current.c_str());
        errorText[0] = '\0';

        const CURLcode code = curl_easy_perform(curl);
        if (code != CURLE_OK) {
            std::string detail = errorText;
            if (code == CURLE_WRITE_ERROR && sink.writeErrno) detail = std::strerror(sink.writeErrno);
            if (code == CURLE_ABORTED_BY_CALLBACK) return failure("The download was cancelled", "");
            if (!sink.refusal.empty()) return failure(sink.refusal, "");
            return failure(curl_easy_strerror(code), detail);
        }
        if (!sink.isRedirect()) {
            Result done;
            done.ok = true;
            return done;
        }
        char* location = nullptr;
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location);
        if (!location || !*location) return failure("The server sent an unusable redirect", "");
        current = location;
    }
    return failure(curl_easy_strerror(CURLE_TOO_MANY_REDIRECTS), "");
}

}  // namespace DownloadTransfer
