#include "support/HttpTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace testsupport {

static constexpr char kServedPath[] = "/downloads/wine-staging-11.4-osx64.tar.xz";

HttpTestServer::HttpTestServer(Options options) : options_(std::move(options)) {
    ::signal(SIGPIPE, SIG_IGN);  // sending to a client that hung up must not kill the process
    fileFd_ = ::open(options_.filePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fileFd_ < 0) throw std::runtime_error("cannot open " + options_.filePath);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
        while (!stop_) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            const timeval limit{30, 0};  // a client that stops talking cannot hold the server forever
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            respond(fd);
            ::close(fd);
        }
    });
}

HttpTestServer::~HttpTestServer() {
    stop_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);  // wakes the blocked accept
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
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        request.append(buf, static_cast<size_t>(n));
    }
    const auto begin = request.find(' ') + 1;  // "GET /target HTTP/1.1"
    std::string head =
        "HTTP/1.1 302 Found\r\nLocation: " + (options_.redirectTo.empty() ? kServedPath : options_.redirectTo) +
        "\r\nContent-Length: 0";
    struct stat st {};
    const bool served = request.substr(begin, request.find(' ', begin) - begin) == kServedPath;
    if (served && ::fstat(fileFd_, &st) == 0) head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(st.st_size);
    head += "\r\nConnection: close\r\n\r\n";
    if (::send(fd, head.data(), head.size(), 0) != static_cast<ssize_t>(head.size()) || !served) return;
    const auto cut = options_.stallAfterBytes, length = cut ? std::min<uint64_t>(cut, st.st_size) : st.st_size;
    off_t offset = 0;
    while (static_cast<uint64_t>(offset) < length)
        if (const auto n = ::sendfile(fd, fileFd_, &offset, length - offset); n == 0 || (n < 0 && errno != EINTR))
            return;                           // the client went away
    if (cut) ::recv(fd, buf, sizeof buf, 0);  // silent until the client gives up
}

}  // namespace testsupport
