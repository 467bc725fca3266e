// Test helper started by the subprocess tests. The first argument picks what
// it does; everything is controlled by arguments, never by the environment.
//   dump [args...]        print argv, environment and cwd in a parseable form
//   write MB              write MB mebibytes to stdout
//   interleave N          write N numbered lines, alternating stdout and stderr
//   exit CODE             exit with CODE
//   signal SIG            die by signal SIG
//   sleep SECONDS         sleep, then exit 0
//   grandchild SECONDS    leave a grandchild holding stdout for SECONDS, print its pid, exit 0
//   signals               report blocked and ignored signals
//   fds                   list the open file descriptors above 2
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace {

void field(const char* tag, const std::string& value) {
    // Length-prefixed, so blanks, newlines and quotes survive parsing.
    std::printf("%s %zu:", tag, value.size());
    std::fwrite(value.data(), 1, value.size(), stdout);
    std::printf("\n");
}

int dump(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) field("arg", argv[i]);
    for (char** e = environ; *e; ++e) field("env", *e);
    char cwd[4096];
    field("cwd", getcwd(cwd, sizeof cwd) ? cwd : "");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 64;
    const std::string mode = argv[1];
    if (mode == "dump") return dump(argc, argv);
    if (mode == "write" && argc > 2) {
        std::string block(1 << 20, 'x');
        for (int i = 0, n = std::atoi(argv[2]); i < n; ++i) std::fwrite(block.data(), 1, block.size(), stdout);
        return 0;
    }
    if (mode == "interleave" && argc > 2) {
        for (int i = 0, n = std::atoi(argv[2]); i < n; ++i) {
            FILE* f = (i % 2 == 0) ? stdout : stderr;
            std::fprintf(f, "line %d\n", i);
            std::fflush(f);
        }
        return 0;
    }
    if (mode == "exit" && argc > 2) return std::atoi(argv[2]);
    if (mode == "signal" && argc > 2) {
        int sig = std::atoi(argv[2]);
        ::signal(sig, SIG_DFL);
        ::raise(sig);
        return 99;
    }
    if (mode == "sleep" && argc > 2) {
        ::usleep(static_cast<useconds_t>(std::atof(argv[2]) * 1e6));
        return 0;
    }
    if (mode == "grandchild" && argc > 2) {
        std::fflush(stdout);
        pid_t pid = ::fork();
        if (pid == 0) {
            ::sleep(static_cast<unsigned>(std::atoi(argv[2])));
            ::_exit(0);
        }
        std::printf("grandchild %d\n", static_cast<int>(pid));
        return 0;
    }
    if (mode == "signals") {
        sigset_t blocked;
        sigprocmask(SIG_BLOCK, nullptr, &blocked);
        for (int s = 1; s < 32; ++s) {
            struct sigaction sa {};
            sigaction(s, nullptr, &sa);
            if (sigismember(&blocked, s)) std::printf("blocked %d\n", s);
            if (sa.sa_handler == SIG_IGN) std::printf("ignored %d\n", s);
        }
        return 0;
    }
    if (mode == "fds") {
        DIR* d = ::opendir("/proc/self/fd");
        if (!d) return 1;
        int self = ::dirfd(d);
        while (auto* e = ::readdir(d)) {
            int fd = std::atoi(e->d_name);
            if (e->d_name[0] != '.' && fd > 2 && fd != self) std::printf("fd %d\n", fd);
        }
        ::closedir(d);
        return 0;
    }
    return 64;
}
