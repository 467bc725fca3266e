#pragma once

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

// What this test process holds, read from /proc: the soak compares it before
// and after its repetitions.
struct ProcessResources {
    int fds = 0;
    int threads = 0;
    long rssKB = 0;
    int zombieChildren = 0;

    static int entries(const std::string& dir) {
        int n = 0;
        if (DIR* d = ::opendir(dir.c_str())) {
            while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
            ::closedir(d);
        }
        return n;
    }

    static ProcessResources now() {
        ProcessResources r;
        r.fds = entries("/proc/self/fd") - 1;  // less the one opendir holds while counting
        r.threads = entries("/proc/self/task");
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0) r.rssKB = std::stol(line.substr(6));
        }
        // Children of ours that ended and were never reaped.
        if (DIR* d = ::opendir("/proc")) {
            while (const dirent* e = ::readdir(d)) {
                if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
                std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
                std::string text((std::istreambuf_iterator<char>(stat)), {});
                const auto close = text.rfind(')');
                if (close == std::string::npos) continue;
                std::istringstream rest(text.substr(close + 2));
                char state = 0;
                long ppid = 0;
                rest >> state >> ppid;
                r.zombieChildren += state == 'Z' && ppid == ::getpid();
            }
            ::closedir(d);
        }
        return r;
    }
};
