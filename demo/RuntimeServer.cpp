// The dev build's loopback runtime server: serves the demo runtime archive at
// the dev profile's download address until it is told to stop (SIGTERM or
// SIGINT) or the process that started it ends.
// Usage: ferrowick-runtime-server ARCHIVE PORT
#include <signal.h>
#include <sys/prctl.h>

#include <cstdio>
#include <cstdlib>

#include "support/HttpTestServer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ARCHIVE PORT\n", argv[0]);
        return 2;
    }
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // before the server's thread inherits the mask
    try {
        testsupport::HttpTestServer server({.filePath = argv[1], .port = static_cast<uint16_t>(std::atoi(argv[2]))});
        std::printf("Serving the runtime at %s\n", server.url().c_str());
        std::fflush(stdout);
        int signal = 0;
        ::sigwait(&stop, &signal);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ferrowick-runtime-server: %s\n", e.what());
        return 1;
    }
    return 0;
}
