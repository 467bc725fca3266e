#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace testsupport {

// A small HTTP/1.1 server on an ephemeral 127.0.0.1 port, run in-process by a
// test or benchmark. It serves one file and can misbehave the ways a download
// server does. Connections are answered one at a time on the server's thread
// and closed after one response; destruction stops it and joins the thread.
class HttpTestServer {
public:
    enum class Mode {
        serve,           // 200 with Content-Length
        notFound,        // a 404 HTML page
        closeDelimited,  // 200 without Content-Length; the body ends when the connection closes
        resetAfter,      // announces the full length, sends faultAfterBytes, then resets the connection
        stallAfter,      // announces the full length, sends faultAfterBytes, then goes silent
        redirect,        // 302 from any other path to the served one, or to redirectTo
    };

    struct Options {
        std::string filePath = {};  // the body
        Mode mode = Mode::serve;
        uint64_t faultAfterBytes = 0;
        std::string redirectTo = {};
    };

    explicit HttpTestServer(Options options);
    ~HttpTestServer();

    // "http://127.0.0.1:PORT" + path; the served file's path when empty.
    [[nodiscard]] std::string url(const std::string& path = "") const;

private:
    void respond(int fd);

    Options options_;
    int fileFd_ = -1;
    int listenFd_ = -1;
    uint64_t fileSize_ = 0;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace testsupport
