#include "support/FakeWine.h"

#include <signal.h>

#include <algorithm>
#ifdef __APPLE__
#include <libproc.h>
#endif

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "common/Constants.h"
#include "support/TestHome.h"

namespace fs = std::filesystem;

namespace testsupport {

static std::string file(const std::string& name) {
    return Constants::wineDir() + "/bin/" + name;
}

// A listed pid is ours only while its command line names the bin directory (else it was recycled);
// a process in the middle of exec shows an empty command line for a moment.
static bool isFixtureProcess(int pid) {
#ifdef __APPLE__
    // No /proc: the executable's path, which the system gives with links resolved (/var is /private/var).
    char path[PROC_PIDPATHINFO_MAXSIZE];
    std::error_code ec;
    const std::string bin = fs::canonical(Constants::wineDir() + "/bin", ec).string() + "/";
    return ::proc_pidpath(pid, path, sizeof path) > 0 && std::string(path).rfind(bin, 0) == 0;
#else
    const std::string proc = "/proc/" + std::to_string(pid);
    for (int attempt = 0; attempt < 50; ++attempt, std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
        const std::string stat = readFile(proc + "/stat"), cmdline = readFile(proc + "/cmdline");
        const auto close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z') return false;
        if (!cmdline.empty()) return cmdline.rfind(file(""), 0) == 0;
    }
    return false;
#endif
}

FakeWine::FakeWine() {
    fs::create_directories(file(""));
    for (const auto* target : {&Constants::wineBin(), &Constants::wineserver()})
        fs::copy_file(testProgram("fakewine"), *target, fs::copy_options::overwrite_existing);
    writeControl();
}

FakeWine::~FakeWine() {
    for (int pid : livePids()) ::kill(pid, SIGKILL);
    // Killed orphans are reaped by init; wait for that so none is seen alive later.
    for (int i = 0; i < 100 && !livePids().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    setServerAlive(false);
}

void FakeWine::writeControl() const {
    std::string text;
    for (const auto& [key, value] : control_) text += fakeWineField(key, value);
    writeFile(file("fake-wine.control.tmp"), text);  // renamed: a wine started meanwhile never reads half a file
    fs::rename(file("fake-wine.control.tmp"), file("fake-wine.control"));
}

size_t FakeWine::runs(const std::string& command) const {
    const auto wine = calls("wine");
    return std::count_if(wine.begin(), wine.end(),
                         [&](const FakeWineCall& call) { return !call.args.empty() && call.args[0] == command; });
}

std::vector<FakeWineCall> FakeWine::calls(const std::string& program) const {
    std::vector<FakeWineCall> out;
    std::istringstream in(readFile(file("fake-wine.calls")));
    while (in) {
        FakeWineCall call;
        for (std::string tag, value; readFakeWineField(in, tag, value);) {
            if (tag == "program") call.program = value;
            if (tag == "arg") call.args.push_back(value);
            if (const auto eq = value.find('='); tag == "env") call.env[value.substr(0, eq)] = value.substr(eq + 1);
        }
        if (!call.program.empty() && (program.empty() || call.program == program)) out.push_back(std::move(call));
    }
    return out;
}

bool FakeWine::serverAlive() const {
    return fs::exists(file("fake-wineserver.alive"));
}

void FakeWine::setServerAlive(bool alive, const std::string& prefix) {
    alive ? writeFile(file("fake-wineserver.alive"), "0\n" + prefix + "\n")
          : (void)fs::remove(file("fake-wineserver.alive"));
}

std::vector<int> FakeWine::livePids() const {
    std::vector<int> out;
    std::istringstream in(readFile(file("fake-wine.pids")));
    for (int pid; in >> pid;)
        if (pid > 0 && isFixtureProcess(pid)) out.push_back(pid);
    return out;
}

}  // namespace testsupport
