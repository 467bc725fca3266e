#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <csignal>
#include <stdexcept>
#include <string>
#include <thread>

namespace testsupport {

// A small HTTP/1.1 server on a 127.0.0.1 port, run in-process by a test or benchmark. It
// serves one file; any other path is redirected (302) to the file or to redirectTo. One connection at
// a time, on the server's thread, closed after one response.
class HttpTestServer {
public:
    struct Options {
        std::string filePath = {};  // the body
        std::string redirectTo = {};
        // The Content-Length sent: the file's size when null, none (the body ends with the connection)
        // when empty, else this text whatever the body's size.
        const char* announce = nullptr;
        bool chunked = false;  // Transfer-Encoding: chunked, 64 KiB a chunk
        uint16_t port = 0;     // 0: an ephemeral one
    };

    explicit HttpTestServer(Options options) : options_(std::move(options)) {
        ::signal(SIGPIPE, SIG_IGN);  // a client that hung up must not kill the process
        sockaddr_in addr{};          // by name: the BSD structure begins with a length field
        addr.sin_family = AF_INET, addr.sin_port = htons(options_.port), addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        auto* address = reinterpret_cast<sockaddr*>(&addr);
        const int reuse = 1;  // a fixed port is free again at once after a restart
        ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        if ((fileFd_ = ::open(options_.filePath.c_str(), O_RDONLY | O_CLOEXEC)) < 0 ||
            ::bind(listenFd_, address, len) != 0 || ::listen(listenFd_, 16) != 0 ||
            ::getsockname(listenFd_, address, &len) != 0)
            throw std::runtime_error("cannot serve " + options_.filePath);
        url_ = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
        thread_ = std::thread([this] {
            for (int fd; !stop_;)
                if ((fd = acceptConnection()) >= 0) stop_ ? void() : respond(fd), ::close(fd);
        });
    }
    ~HttpTestServer() {
        stop_ = true;
        // Wakes the blocked accept with a connection of its own (shutting the listening socket down
        // does that on Linux only).
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        const int wake = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
            ::connect(wake, reinterpret_cast<sockaddr*>(&addr), len) != 0)
            ::shutdown(listenFd_, SHUT_RDWR);
        thread_.join();
        ::close(wake);
        for (int fd : {listenFd_, fileFd_}) ::close(fd);
    }

    // "http://127.0.0.1:PORT" + path; the served file's path when empty.
    std::string url(const std::string& path = "") const { return url_ + (path.empty() ? kServedPath : path); }

private:
    static constexpr char kServedPath[] = "/downloads/wine-staging-11.4-osx64.tar.xz";

    // Descriptors are close-on-exec, so that no child a test starts meanwhile holds a connection open.
    // Where that cannot be atomic (macOS), posix_spawn closes whatever the child is not given.
    static int socketCloseOnExec() {
#ifdef SOCK_CLOEXEC
        return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
#else
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        return fd >= 0 && ::fcntl(fd, F_SETFD, FD_CLOEXEC), fd;
#endif
    }
    int acceptConnection() const {
#ifdef SOCK_CLOEXEC
        return ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
#else
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        return fd >= 0 && ::fcntl(fd, F_SETFD, FD_CLOEXEC), fd;
#endif
    }

    void respond(int fd) {
        const timeval limit{30, 0};  // a client that stops talking cannot hold the server
        for (int option : {SO_SNDTIMEO, SO_RCVTIMEO}) ::setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit);
        std::string request;
        char block[65536];
        for (ssize_t n = 1; n > 0 && request.find("\r\n\r\n") == std::string::npos;)
            if ((n = ::recv(fd, block, sizeof block, 0)) > 0) request.append(block, static_cast<size_t>(n));
        const auto begin = request.find(' ') + 1;  // "GET /target HTTP/1.1"
        const bool file = request.compare(begin, request.find(' ', begin) - begin, kServedPath) == 0;
        const char* length = options_.announce;
        std::string out = file ? "HTTP/1.1 200 OK"
                               : "HTTP/1.1 302 Found\r\nLocation: " +
                                     (options_.redirectTo.empty() ? kServedPath : options_.redirectTo) +
                                     "\r\nContent-Length: 0";
        if (file && (!length || *length))
            out += "\r\nContent-Length: " + (length ? length : std::to_string(::lseek(fileFd_, 0, SEEK_END)));
        if (file && options_.chunked) out += "\r\nTransfer-Encoding: chunked";
        out += "\r\nConnection: close\r\n\r\n";
        // Block by block; a chunked body ends with an empty chunk. A send that fails: the client left.
        for (off_t offset = 0; file; offset += 65536, out.clear()) {
            const ssize_t n = ::pread(fileFd_, block, sizeof block, offset);
            if (n < 0 || (n == 0 && !options_.chunked)) break;
            char size[20];
            if (options_.chunked) out.append(size, std::to_chars(size, size + 16, n, 16).ptr).append("\r\n");
            out.append(block, static_cast<size_t>(n)).append(options_.chunked ? "\r\n" : "");
            if (::send(fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size()) || n == 0) return;
        }
        ::send(fd, out.data(), out.size(), 0);
    }

    Options options_;
    int fileFd_ = -1, listenFd_ = socketCloseOnExec();
    std::string url_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace testsupport
