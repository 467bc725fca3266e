#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform {

std::string Paths::homeDirectory() {
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env) {
        home = env;
    } else {
        passwd pw{};
        passwd* found = nullptr;
        std::vector<char> buf(16384);
        if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir) {
            home = found->pw_dir;
        }
    }
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return home;
}

std::string Paths::temporaryDirectory() {
    std::string dir = "/tmp";
    if (const char* env = std::getenv("TMPDIR"); env && *env) dir = env;
    if (dir.back() != '/') dir += '/';
    return dir;
}

}  // namespace platform
