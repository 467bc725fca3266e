// Test helper. "dump [args...]": argv, the environment and "unclean N" for each blocked or ignored
// signal and open descriptor above 2, each ended by a NUL. "sleep SECONDS [ignored...]": sleeps.
// Copied under another name it stands in for a macOS system tool (support/ToolStandIn.h).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "../FakeWine.h"

extern char** environ;

namespace {

// As the tool NAME: appends one record to NAME.calls beside itself (an "arg" field per argument, an
// "entry" field per entry of the directory its last argument names, by name, then "end") and prints
// NAME.output.
int standIn(int argc, char** argv) {
    const std::string self = argv[0];
    std::string record;
    for (int i = 1; i < argc; ++i) record += testsupport::fakeWineField("arg", argv[i]);
    std::vector<std::string> entries;
    std::error_code ec;
    if (argc > 1)
        for (std::filesystem::directory_iterator it(argv[argc - 1], ec), end; !ec && it != end; it.increment(ec))
            entries.push_back(it->path().filename().string());
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) record += testsupport::fakeWineField("entry", entry);
    std::ofstream(self + ".calls", std::ios::binary | std::ios::app) << record << "end\n";
    std::cout << std::ifstream(self + ".output", std::ios::binary).rdbuf();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string self = argv[0];
    if (self.substr(self.rfind('/') + 1) != "argdump") return standIn(argc, argv);
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
