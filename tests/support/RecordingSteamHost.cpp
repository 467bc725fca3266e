#include "support/RecordingSteamHost.h"

#include <unistd.h>

#include <filesystem>

#include "support/TestHome.h"

namespace testsupport {

std::vector<int> processesMatching(const std::string& text) {
    std::vector<int> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const int pid = std::stoi(name);
        if (pid == ::getpid()) continue;
        std::string stat = readFile(entry.path().string() + "/stat");
        auto close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z') continue;
        std::string cmdline = readFile(entry.path().string() + "/cmdline");
        for (char& c : cmdline) {
            if (c == '\0') c = ' ';
        }
        if (cmdline.find(text) != std::string::npos) out.push_back(pid);
    }
    return out;
}

}  // namespace testsupport
