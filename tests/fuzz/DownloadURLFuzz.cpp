// libFuzzer entry point: the downloader's address check, which every URL and every redirect's target
// passes. What it allows is https, or plain http to this computer, as curl reads the URL. (A seed may
// hold a URL and a Location, NUL-separated: each is judged.)
#include <curl/curl.h>

#include "FuzzInput.h"
#include "wine/DownloadTransfer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const std::string& url : fuzzFields(data, size)) {
        if (DownloadTransfer::checkURL(url) != DownloadTransfer::URLCheck::allowed) continue;
        CURLU* parsed = curl_url();
        char *schemePart = nullptr, *hostPart = nullptr;
        FUZZ_ASSERT(!curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) &&
                    !curl_url_get(parsed, CURLUPART_SCHEME, &schemePart, 0) &&
                    !curl_url_get(parsed, CURLUPART_HOST, &hostPart, 0));
        const std::string scheme = lowercase(schemePart), host = lowercase(hostPart);
        curl_free(schemePart), curl_free(hostPart), curl_url_cleanup(parsed);
        unsigned a = 0, b = 256, c = 256, d = 256;
        char rest = 0;
        const bool loopback = host == "localhost" || host == "[::1]" ||
                              (std::sscanf(host.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &rest) == 4 && a == 127 &&
                               b < 256 && c < 256 && d < 256);
        FUZZ_ASSERT(!host.empty() && (scheme == "https" || (scheme == "http" && loopback)));
    }
    return 0;
}
