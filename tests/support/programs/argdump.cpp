// Test helper for the subprocess tests; nothing is read from the environment.
//   dump [args...]   argv, then the environment, each entry ended by a NUL
//   sleep SECONDS    sleeps, then exits 0 (further arguments are ignored)
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
    return 0;
}
