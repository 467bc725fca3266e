#include "support/FakeWine.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/TestHome.h"
#include "wine/Constants.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

std::string binDir() {
    return Constants::wineDir() + "/bin";
}

// A listed pid is ours only while its command line still names the bin
// directory; anything else is a recycled pid. A process in the middle of exec
// shows an empty command line for a moment, so that one is read again.
bool isFixtureProcess(int pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    for (int attempt = 0; attempt < 50; ++attempt) {
        const std::string stat = readFile(proc + "/stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z') return false;
        const std::string cmdline = readFile(proc + "/cmdline");
        if (!cmdline.empty()) return cmdline.rfind(binDir() + "/", 0) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

}  // namespace

FakeWine::FakeWine() {
    fs::create_directories(binDir());
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
    // Replaced atomically: a wine started by another thread never reads half a file.
    const std::string path = binDir() + "/fake-wine.control";
    writeFile(path + ".tmp", text);
    fs::rename(path + ".tmp", path);
}

std::vector<FakeWineCall> FakeWine::calls(const std::string& program) const {
    std::vector<FakeWineCall> out;
    std::istringstream in(readFile(binDir() + "/fake-wine.calls"));
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
    return fs::exists(binDir() + "/fake-wineserver.alive");
}

void FakeWine::setServerAlive(bool alive, const std::string& prefix) {
    std::error_code ec;
    alive ? writeFile(binDir() + "/fake-wineserver.alive", "0\n" + prefix + "\n")
          : (void)fs::remove(binDir() + "/fake-wineserver.alive", ec);
}

std::vector<int> FakeWine::livePids() const {
    std::vector<int> out;
    std::istringstream in(readFile(binDir() + "/fake-wine.pids"));
    for (int pid; in >> pid;)
        if (pid > 0 && isFixtureProcess(pid)) out.push_back(pid);
    return out;
}

}  // namespace testsupport
