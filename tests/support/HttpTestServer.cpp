#include "support/HttpTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr int kPollSliceMs = 50;
constexpr size_t kMaxRequestBytes = 64 * 1024;
constexpr size_t kMaxConnections = 256;
constexpr size_t kBlockBytes = 256 * 1024;
// A client that never finishes its request is dropped after this long.
constexpr auto kRequestReadLimit = std::chrono::seconds(30);

constexpr char kNotFoundPage[] =
    "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>\n"
    "<body><h1>Not Found</h1><p>The requested URL was not found on this server.</p></body></html>\n";

bool waitFor(int fd, short events, const std::atomic<bool>& stop) {
    pollfd p{fd, events, 0};
    while (!stop) {
        int n = ::poll(&p, 1, kPollSliceMs);
        if (n > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0 && !(p.revents & POLLERR);
        if (n < 0 && errno != EINTR) return false;
    }
    return false;
}

}  // namespace

HttpTestServer::HttpTestServer(Options options) : options_(std::move(options)) {
    // A client that hangs up mid-body must not kill the test process.
    ::signal(SIGPIPE, SIG_IGN);
    if (!options_.filePath.empty()) {
        fileFd_ = ::open(options_.filePath.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fileFd_ < 0 || ::fstat(fileFd_, &st) != 0) throw std::runtime_error("cannot open " + options_.filePath);
        fileSize_ = static_cast<uint64_t>(st.st_size);
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

HttpTestServer::~HttpTestServer() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(connections_);
    }
    for (auto& t : threads) t.join();
    ::close(listenFd_);
    if (fileFd_ >= 0) ::close(fileFd_);
}

std::string HttpTestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + (path.empty() ? options_.servePath : path);
}

std::vector<std::string> HttpTestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

uint16_t HttpTestServer::unusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

void HttpTestServer::acceptLoop() {
    while (!stop_) {
        if (!waitFor(listenFd_, POLLIN, stop_)) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        if (connections_.size() >= kMaxConnections) {
            ::close(fd);
            continue;
        }
        connections_.emplace_back([this, fd] {
            handle(fd);
            ::close(fd);
        });
    }
}

bool HttpTestServer::sendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            if (!waitFor(fd, POLLOUT, stop_)) return false;
        } else {
            return false;
        }
    }
    return true;
}

bool HttpTestServer::sendFileRange(int fd, uint64_t offset, uint64_t length, bool drip) {
    if (!drip) {
        auto off = static_cast<off_t>(offset);
        const auto end = static_cast<off_t>(offset + length);
        while (off < end) {
            ssize_t n = ::sendfile(fd, fileFd_, &off, static_cast<size_t>(end - off));
            if (n > 0) continue;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                if (!waitFor(fd, POLLOUT, stop_)) return false;
                continue;
            }
            return false;  // peer gone, or the file shrank
        }
        return true;
    }
    std::vector<char> block(std::max<size_t>(1, options_.dripBytes));
    while (length > 0 && !stop_) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(block.size(), length));
        ssize_t n = ::pread(fileFd_, block.data(), want, static_cast<off_t>(offset));
        if (n <= 0 || !sendAll(fd, block.data(), static_cast<size_t>(n))) return false;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<uint64_t>(n);
        if (length > 0) std::this_thread::sleep_for(options_.dripInterval);
    }
    return length == 0;
}

void HttpTestServer::waitForPeerOrStop(int fd) {
    char sink[4096];
    while (!stop_) {
        if (!waitFor(fd, POLLIN, stop_)) return;
        ssize_t n = ::recv(fd, sink, sizeof sink, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;  // the client gave up
    }
}

void HttpTestServer::handle(int fd) {
    std::string request;
    const auto giveUp = std::chrono::steady_clock::now() + kRequestReadLimit;
    while (request.find("\r\n\r\n") == std::string::npos) {
        if (request.size() > kMaxRequestBytes || std::chrono::steady_clock::now() > giveUp) return;
        if (!waitFor(fd, POLLIN, stop_)) return;
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
        if (n > 0) request.append(buf, static_cast<size_t>(n));
    }
    // "GET /target HTTP/1.1"
    const auto sp1 = request.find(' ');
    const auto sp2 = request.find(' ', sp1 + 1);
    const std::string target =
        (sp1 == std::string::npos || sp2 == std::string::npos) ? "" : request.substr(sp1 + 1, sp2 - sp1 - 1);
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(target);
    }

    auto header = [](const std::string& statusLine, const std::string& extra) {
        return "HTTP/1.1 " + statusLine + "\r\nServer: ferrowick-test\r\nConnection: close\r\n" + extra + "\r\n";
    };
    const Mode mode = options_.mode;
    const bool served = target == options_.servePath && fileFd_ >= 0;

    if (mode == Mode::redirect && target != options_.servePath) {
        const std::string to = options_.redirectLocation.empty() ? options_.servePath : options_.redirectLocation;
        const std::string body = "<html><body>Moved</body></html>\n";
        const std::string head = header("302 Found", "Location: " + to + "\r\nContent-Type: text/html\r\n" +
                                                         "Content-Length: " + std::to_string(body.size()) + "\r\n");
        sendAll(fd, head.data(), head.size()) && sendAll(fd, body.data(), body.size());
        return;
    }
    if (mode == Mode::notFound || !served) {
        const std::string body = kNotFoundPage;
        const std::string head =
            header("404 Not Found",
                   "Content-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) + "\r\n");
        sendAll(fd, head.data(), head.size()) && sendAll(fd, body.data(), body.size());
        return;
    }

    const std::string octets = "Content-Type: application/x-xz\r\n";
    const std::string length = "Content-Length: " + std::to_string(fileSize_) + "\r\n";
    switch (mode) {
    case Mode::chunked: {
        const std::string head = header("200 OK", octets + "Transfer-Encoding: chunked\r\n");
        if (!sendAll(fd, head.data(), head.size())) return;
        std::vector<char> block(kBlockBytes);
        for (uint64_t off = 0; off < fileSize_;) {
            ssize_t n = ::pread(fileFd_, block.data(), block.size(), static_cast<off_t>(off));
            if (n <= 0) return;
            char size[32];
            std::snprintf(size, sizeof size, "%zx\r\n", static_cast<size_t>(n));
            if (!sendAll(fd, size, std::strlen(size)) || !sendAll(fd, block.data(), static_cast<size_t>(n)) ||
                !sendAll(fd, "\r\n", 2)) {
                return;
            }
            off += static_cast<uint64_t>(n);
        }
        sendAll(fd, "0\r\n\r\n", 5);
        return;
    }
    case Mode::closeDelimited: {
        const std::string head = header("200 OK", octets);
        if (sendAll(fd, head.data(), head.size())) sendFileRange(fd, 0, fileSize_, false);
        ::shutdown(fd, SHUT_WR);
        return;
    }
    case Mode::resetAfter:
    case Mode::stallAfter: {
        const std::string head = header("200 OK", octets + length);
        const uint64_t part = std::min(options_.faultAfterBytes, fileSize_);
        if (!sendAll(fd, head.data(), head.size()) || !sendFileRange(fd, 0, part, false)) return;
        if (mode == Mode::stallAfter) {
            waitForPeerOrStop(fd);
            return;
        }
        // Give the bytes a moment to leave, then abort the connection with RST.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        return;  // the caller's close sends the reset
    }
    case Mode::slowDrip: {
        const std::string head = header("200 OK", octets + length);
        if (sendAll(fd, head.data(), head.size())) sendFileRange(fd, 0, fileSize_, true);
        return;
    }
    default: {
        const std::string head = header("200 OK", octets + length);
        if (sendAll(fd, head.data(), head.size())) sendFileRange(fd, 0, fileSize_, false);
        return;
    }
    }
}

}  // namespace testsupport
