#include "support/HttpTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr char kServedPath[] = "/downloads/wine-staging-11.4-osx64.tar.xz";

// Waits in short slices, so that every wait ends when the server is destroyed.
bool readable(int fd, const std::atomic<bool>& stop) {
    pollfd p{fd, POLLIN, 0};
    while (!stop) {
        const int n = ::poll(&p, 1, 50);
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
    return false;
}

bool sendText(int fd, const std::string& text) {
    return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

bool sendFile(int fd, int file, uint64_t length) {
    off_t offset = 0;
    while (static_cast<uint64_t>(offset) < length) {
        const ssize_t n = ::sendfile(fd, file, &offset, length - static_cast<uint64_t>(offset));
        if (n <= 0 && !(n < 0 && errno == EINTR)) return false;  // the client went away
    }
    return true;
}

}  // namespace

HttpTestServer::HttpTestServer(Options options) : options_(std::move(options)) {
    ::signal(SIGPIPE, SIG_IGN);  // sendfile to a client that hung up must not kill the process
    fileFd_ = ::open(options_.filePath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fileFd_ < 0 || ::fstat(fileFd_, &st) != 0) throw std::runtime_error("cannot open " + options_.filePath);
    fileSize_ = static_cast<uint64_t>(st.st_size);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
        while (readable(listenFd_, stop_)) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            const timeval sendLimit{30, 0};  // a client that stops reading cannot hold the server forever
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
            respond(fd);
            ::close(fd);
        }
    });
}

HttpTestServer::~HttpTestServer() {
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
    ::close(fileFd_);
}

std::string HttpTestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + (path.empty() ? kServedPath : path);
}

void HttpTestServer::respond(int fd) {
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        const ssize_t n = readable(fd, stop_) ? ::recv(fd, buf, sizeof buf, 0) : 0;
        if (n <= 0) return;
        request.append(buf, static_cast<size_t>(n));
    }
    const auto begin = request.find(' ') + 1;  // "GET /target HTTP/1.1"
    const std::string target = request.substr(begin, request.find(' ', begin) - begin);
    const Mode mode = options_.mode;
    if (mode == Mode::redirect && target != kServedPath) {
        const std::string to = options_.redirectTo.empty() ? kServedPath : options_.redirectTo;
        sendText(fd, "HTTP/1.1 302 Found\r\nLocation: " + to + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    if (mode == Mode::notFound || target != kServedPath) {
        const std::string page = "<!DOCTYPE html>\n<html><body><h1>404 Not Found</h1></body></html>\n";
        sendText(fd, "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
                         std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
        return;
    }
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/x-xz\r\nConnection: close\r\n";
    if (mode != Mode::closeDelimited) head += "Content-Length: " + std::to_string(fileSize_) + "\r\n";
    const bool cut = mode == Mode::resetAfter || mode == Mode::stallAfter;
    if (!sendText(fd, head + "\r\n") ||
        !sendFile(fd, fileFd_, cut ? std::min(options_.faultAfterBytes, fileSize_) : fileSize_))
        return;
    if (mode == Mode::stallAfter) {
        while (readable(fd, stop_) && ::recv(fd, buf, sizeof buf, 0) > 0) {
        }  // silent until the client gives up
    } else if (mode == Mode::resetAfter) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the bytes leave first
        const linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);  // the caller's close() now sends RST
    }
}

}  // namespace testsupport
