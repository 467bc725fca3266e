// libFuzzer entry point: the downloader's address check, on a URL and on the
// target of a redirect from it (the Location resolved against the URL the way
// the transfer follows it). Whatever the check allows is https, or plain http
// to this computer; nothing else may pass.
#include <curl/curl.h>

#include <cstdio>
#include <string>

#include "FuzzInput.h"
#include "wine/DownloadTransfer.h"

namespace {

std::string part(CURLU* url, CURLUPart which) {
    char* text = nullptr;
    if (curl_url_get(url, which, &text, 0) != CURLUE_OK || !text) return {};
    const std::string out = lowercase(text);
    curl_free(text);
    return out;
}

bool isLoopbackLiteral(const std::string& host) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    char rest = 0;
    return host == "localhost" || host == "[::1]" ||
           (std::sscanf(host.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &rest) == 4 && a == 127 && b < 256 &&
            c < 256 && d < 256);
}

// The check's verdict on `url`, held against what an independent reading of it says.
void judge(const std::string& url) {
    if (DownloadTransfer::checkURL(url) != DownloadTransfer::URLCheck::allowed) return;
    CURLU* parsed = curl_url();
    FUZZ_ASSERT(curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK);
    const std::string scheme = part(parsed, CURLUPART_SCHEME);
    const std::string host = part(parsed, CURLUPART_HOST);
    curl_url_cleanup(parsed);
    FUZZ_ASSERT(!host.empty() && (scheme == "https" || (scheme == "http" && isLoopbackLiteral(host))));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto fields = fuzzFields(data, size);
    judge(fields[0]);
    if (fields.size() < 2) return 0;
    // A redirect: curl resolves a relative Location against the current URL.
    CURLU* base = curl_url();
    if (curl_url_set(base, CURLUPART_URL, fields[0].c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_set(base, CURLUPART_URL, fields[1].c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        char* next = nullptr;
        if (curl_url_get(base, CURLUPART_URL, &next, 0) == CURLUE_OK && next) {
            judge(next);
            curl_free(next);
        }
    }
    curl_url_cleanup(base);
    return 0;
}
