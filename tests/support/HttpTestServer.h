#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace testsupport {

// A small HTTP/1.1 server on an ephemeral 127.0.0.1 port, run in-process by a test or benchmark. It
// serves one file with its length; any other path is redirected (302) to the file or to redirectTo.
// Connections are answered one at a time on the server's thread and closed after one response;
// destruction stops it and joins the thread.
class HttpTestServer {
public:
    struct Options {
        std::string filePath = {};     // the body
        uint64_t stallAfterBytes = 0;  // non-zero: send this much of the body, then go silent
        std::string redirectTo = {};
    };
    explicit HttpTestServer(Options options);
    ~HttpTestServer();
    // "http://127.0.0.1:PORT" + path; the served file's path when empty.
    [[nodiscard]] std::string url(const std::string& path = "") const;

private:
    void respond(int fd);

    Options options_;
    int fileFd_ = -1, listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace testsupport
