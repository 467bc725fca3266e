#include "support/FakeWine.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/TestHome.h"
#include "wine/Constants.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

std::string escapeValue(const std::string& value) {
    std::string out;
    for (unsigned char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Reads one "tag LEN:bytes\n" field; false at the record's "end" line.
bool readField(std::istream& in, std::string& tag, std::string& value) {
    if (!(in >> tag) || tag == "end") return false;
    std::string length;
    if (!std::getline(in, length, ':')) return false;
    value.assign(std::stoul(length), '\0');
    in.read(value.data(), static_cast<std::streamsize>(value.size()));
    in.ignore(1);  // the line break
    return true;
}

// A pid from the fixture's list is ours only while its command line still
// names the fixture's bin directory; anything else is a recycled pid. The
// command line reads empty while a process is in the middle of exec, so an
// empty one of a live process is read again.
bool isFixtureProcess(int pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    for (int attempt = 0; attempt < 50; ++attempt) {
        const std::string stat = readFile(proc + "/stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z') return false;
        const std::string cmdline = readFile(proc + "/cmdline");
        if (!cmdline.empty()) return cmdline.rfind(FakeWine::binDir() + "/", 0) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

}  // namespace

FakeWine::FakeWine() {
    std::error_code ec;
    fs::create_directories(binDir(), ec);
    for (const auto* target : {&Constants::wineBin(), &Constants::wineserver()}) {
        fs::copy_file(testProgram("fakewine"), *target, fs::copy_options::overwrite_existing, ec);
        if (ec) throw std::runtime_error("cannot install the fake Wine at " + *target + ": " + ec.message());
    }
    writeControl();
}

FakeWine::~FakeWine() {
    killLeftovers();
}

std::string FakeWine::binDir() {
    return Constants::wineDir() + "/bin";
}

std::string FakeWine::controlPath() const {
    return binDir() + "/fake-wine.control";
}

void FakeWine::set(const std::string& key, const std::string& value) {
    control_[key] = value;
    writeControl();
}

void FakeWine::unset(const std::string& key) {
    control_.erase(key);
    writeControl();
}

void FakeWine::configure(const std::map<std::string, std::string>& keys) {
    control_ = keys;
    writeControl();
}

void FakeWine::writeControl() const {
    std::string text = "# fake Wine control file, written by testsupport::FakeWine\n";
    for (const auto& [key, value] : control_) text += key + "=" + escapeValue(value) + "\n";
    // Replace atomically: a wine started by another thread never reads half a file.
    const std::string tmp = controlPath() + ".tmp";
    writeFile(tmp, text);
    fs::rename(tmp, controlPath());
}

std::vector<FakeWineCall> FakeWine::calls(const std::string& program) const {
    std::vector<FakeWineCall> out;
    std::istringstream in(readFile(binDir() + "/fake-wine.calls"));
    for (std::string line; std::getline(in, line);) {
        if (line != "call") continue;
        FakeWineCall call;
        std::string tag, value;
        while (readField(in, tag, value)) {
            if (tag == "program") {
                call.program = value;
            } else if (tag == "arg") {
                call.args.push_back(value);
            } else if (tag == "cwd") {
                call.cwd = value;
            } else if (tag == "env") {
                auto eq = value.find('=');
                call.env[value.substr(0, eq)] = eq == std::string::npos ? "" : value.substr(eq + 1);
            }
        }
        if (program.empty() || call.program == program) out.push_back(std::move(call));
    }
    return out;
}

bool FakeWine::serverAlive() const {
    return fs::exists(binDir() + "/fake-wineserver.alive");
}

void FakeWine::setServerAlive(bool alive, const std::string& prefix) {
    const std::string marker = binDir() + "/fake-wineserver.alive";
    if (alive) {
        writeFile(marker, "0\n" + prefix + "\n");
    } else {
        std::error_code ec;
        fs::remove(marker, ec);
    }
}

std::vector<int> FakeWine::livePids() const {
    std::vector<int> out;
    std::istringstream in(readFile(binDir() + "/fake-wine.pids"));
    for (int pid; in >> pid;) {
        if (pid > 0 && isFixtureProcess(pid)) out.push_back(pid);
    }
    return out;
}

void FakeWine::killLeftovers() {
    for (int pid : livePids()) ::kill(pid, SIGKILL);
    // Killed orphans are reaped by init; give it a moment so a following
    // livePids() sees them gone.
    for (int i = 0; i < 100 && !livePids().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::error_code ec;
    fs::remove(binDir() + "/fake-wineserver.alive", ec);
}

}  // namespace testsupport
