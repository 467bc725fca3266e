// libFuzzer entry point: the downloader's address check on a URL, and on the target of a redirect from
// it (the Location resolved by curl, as the transfer does). What it allows is https, or plain http to
// this computer, as curl reads the URL.
#include <curl/curl.h>

#include "FuzzInput.h"
#include "wine/DownloadTransfer.h"

static void judge(const char* url) {
    if (DownloadTransfer::checkURL(url) != DownloadTransfer::URLCheck::allowed) return;
    CURLU* parsed = curl_url();
    char *schemePart = nullptr, *hostPart = nullptr;
    FUZZ_ASSERT(curl_url_set(parsed, CURLUPART_URL, url, CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
                curl_url_get(parsed, CURLUPART_SCHEME, &schemePart, 0) == CURLUE_OK &&
                curl_url_get(parsed, CURLUPART_HOST, &hostPart, 0) == CURLUE_OK);
    const std::string scheme = lowercase(schemePart), host = lowercase(hostPart);
    curl_free(schemePart), curl_free(hostPart), curl_url_cleanup(parsed);
    unsigned a = 0, b = 256, c = 256, d = 256;
    char rest = 0;
    const bool loopback = host == "localhost" || host == "[::1]" ||
                          (std::sscanf(host.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &rest) == 4 && a == 127 &&
                           b < 256 && c < 256 && d < 256);
    FUZZ_ASSERT(!host.empty() && (scheme == "https" || (scheme == "http" && loopback)));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto fields = fuzzFields(data, size);  // the URL, then a Location
    judge(fields[0].c_str());
    CURLU* base = curl_url();
    char* next = nullptr;
    if (fields.size() > 1 && !curl_url_set(base, CURLUPART_URL, fields[0].c_str(), CURLU_NON_SUPPORT_SCHEME) &&
        !curl_url_set(base, CURLUPART_URL, fields[1].c_str(), CURLU_NON_SUPPORT_SCHEME) &&
        !curl_url_get(base, CURLUPART_URL, &next, 0))
        judge(next);
    curl_free(next), curl_url_cleanup(base);
    return 0;
}
