#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A small HTTP/1.1 server on an ephemeral 127.0.0.1 port, run in-process by a
// test. It serves one file at one path and can misbehave in the ways a real
// download server does. Every connection is closed after one response.
// Everything stops, and every thread is joined, when the server is destroyed.
class HttpTestServer {
public:
    enum class Mode {
        serve,           // 200 with Content-Length
        notFound,        // a 404 HTML page for every request
        chunked,         // 200 without Content-Length, chunked transfer coding
        closeDelimited,  // 200 without Content-Length, body ends when the connection closes
        resetAfter,      // announces the full length, sends faultAfterBytes, then resets the connection
        stallAfter,      // announces the full length, sends faultAfterBytes, then goes silent
        redirect,        // 302 to redirectLocation for every path but the served one
        slowDrip,        // dripBytes every dripInterval
    };

    struct Options {
        std::string filePath;  // the body
        std::string servePath = "/downloads/wine-staging-11.4-osx64.tar.xz";
        Mode mode = Mode::serve;
        uint64_t faultAfterBytes = 0;
        std::string redirectLocation;  // empty: servePath on this server
        size_t dripBytes = 4096;
        std::chrono::milliseconds dripInterval{10};
    };

    explicit HttpTestServer(Options options);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    [[nodiscard]] uint16_t port() const { return port_; }
    // "http://127.0.0.1:PORT" + path; the served path by default.
    [[nodiscard]] std::string url(const std::string& path = "") const;
    // Request targets in arrival order.
    [[nodiscard]] std::vector<std::string> requests() const;

    // A port on which nothing listens (bound, then closed), for refused connections.
    static uint16_t unusedPort();

private:
    void acceptLoop();
    void handle(int fd);
    bool sendAll(int fd, const char* data, size_t size);
    bool sendFileRange(int fd, uint64_t offset, uint64_t length, bool drip);
    void waitForPeerOrStop(int fd);

    Options options_;
    uint64_t fileSize_ = 0;
    int fileFd_ = -1;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::thread> connections_;
    std::vector<std::string> requests_;
};

}  // namespace testsupport
