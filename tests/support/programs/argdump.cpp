// Test helper. "dump [args...]": argv, the environment and "unclean N" for each blocked or ignored
// signal and open descriptor above 2, each ended by a NUL. "sleep SECONDS [ignored...]": sleeps.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern char** environ;

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "sleep" && argc > 2) return ::usleep(static_cast<useconds_t>(std::atof(argv[2]) * 1e6));
    if (mode != "dump") return 64;
    for (int i = 0; i < argc; ++i) std::fwrite(argv[i], 1, std::string(argv[i]).size() + 1, stdout);
    for (char** e = environ; *e; ++e) std::fwrite(*e, 1, std::string(*e).size() + 1, stdout);
    sigset_t blocked;
    ::sigprocmask(SIG_BLOCK, nullptr, &blocked);
    for (int n = 1; n < 1024; ++n) {
        struct sigaction action {};
        const bool signal = n < 32 && (::sigismember(&blocked, n) == 1 ||
                                       (::sigaction(n, nullptr, &action) == 0 && action.sa_handler == SIG_IGN));
        if (signal || (n > 2 && ::fcntl(n, F_GETFD) != -1)) std::printf("unclean %d%c", n, '\0');
    }
}
