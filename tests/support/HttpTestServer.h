#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <stdexcept>
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
        std::string filePath = {};  // the body
        std::string redirectTo = {};
        // The Content-Length sent with the file: its size when null, none (a body that ends when
        // the connection closes) when empty, else this text, whatever the body's real size.
        const char* announce = nullptr;
        bool chunked = false;  // send the file in chunks of 64 KiB (Transfer-Encoding: chunked)
        uint16_t port = 0;  // 0: an ephemeral one
    };

    explicit HttpTestServer(Options options) : options_(std::move(options)) {
        ::signal(SIGPIPE, SIG_IGN);  // sending to a client that hung up must not kill the process
        fileFd_ = ::open(options_.filePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fileFd_ < 0) throw std::runtime_error("cannot open " + options_.filePath);
        sockaddr_in addr{AF_INET, htons(options_.port), {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof addr;
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int reuse = 1;  // a fixed port is free again at once after a restart
        ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(options_.port));
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            while (!stop_) {
                const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) continue;
                const timeval limit{30, 0};  // a client that stops talking cannot hold the server forever
                for (int option : {SO_SNDTIMEO, SO_RCVTIMEO})
                    ::setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit);
                respond(fd);
                ::close(fd);
            }
        });
    }
    ~HttpTestServer() {
        stop_ = true;
        ::shutdown(listenFd_, SHUT_RDWR);  // wakes the blocked accept
        thread_.join();
        for (int fd : {listenFd_, fileFd_}) ::close(fd);
    }

    // "http://127.0.0.1:PORT" + path; the served file's path when empty.
    std::string url(const std::string& path = "") const {
        return "http://127.0.0.1:" + std::to_string(port_) + (path.empty() ? kServedPath : path);
    }

private:
    static constexpr char kServedPath[] = "/downloads/wine-staging-11.4-osx64.tar.xz";

    void respond(int fd) {
        std::string request, served = kServedPath;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            request.append(buf, static_cast<size_t>(n));
        }
        const auto begin = request.find(' ') + 1;  // "GET /target HTTP/1.1"
        const bool file = request.substr(begin, request.find(' ', begin) - begin) == served;
        struct stat st {};
        std::string head =
            "HTTP/1.1 302 Found\r\nLocation: " + (options_.redirectTo.empty() ? served : options_.redirectTo) +
            "\r\nContent-Length: 0";
        if (file && ::fstat(fileFd_, &st) == 0) {
            const auto* length = options_.announce;
            head = "HTTP/1.1 200 OK";
            if (!length || *length) head += "\r\nContent-Length: " + (length ? length : std::to_string(st.st_size));
            if (options_.chunked) head += "\r\nTransfer-Encoding: chunked";
        }
        head += "\r\nConnection: close\r\n\r\n";
        if (::send(fd, head.data(), head.size(), 0) != static_cast<ssize_t>(head.size()) || !file) return;
        if (options_.chunked) return sendChunked(fd);
        for (off_t offset = 0; offset < st.st_size;)
            if (const auto n = ::sendfile(fd, fileFd_, &offset, st.st_size - offset);
                n == 0 || (n < 0 && errno != EINTR))
                return;  // the client went away
    }

    void sendChunked(int fd) {
        char block[65536];
        for (off_t offset = 0;;) {
            const ssize_t n = ::pread(fileFd_, block, sizeof block, offset);
            if (n < 0) return;
            char line[32];
            const int len = std::snprintf(line, sizeof line, "%zx\r\n", static_cast<size_t>(n));
            const std::string chunk = std::string(line, static_cast<size_t>(len)) + std::string(block, n) + "\r\n";
            if (::send(fd, chunk.data(), chunk.size(), 0) != static_cast<ssize_t>(chunk.size()) || n == 0) return;
            offset += n;
        }
    }

    Options options_;
    int fileFd_ = -1, listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace testsupport
