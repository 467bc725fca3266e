// Test fixture standing in for the launcher's private Wine runtime, which
// cannot run here. testsupport::FakeWine copies this one program to both
// <wineDir>/bin/wine and <wineDir>/bin/wineserver; it tells the two roles apart
// by the name it was started under. The child environment is sanitised, so it
// takes its instructions from "fake-wine.control" beside itself and records
// every invocation in "fake-wine.calls" there. See tests/support/README.md.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
extern char** environ;

namespace {

std::string gDir;  // the bin directory holding the fixture and its files
std::map<std::string, std::string> gControl;

std::string unescape(const std::string& in) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 == in.size()) {
            out += in[i];
            continue;
        }
        char c = in[++i];
        if (c == 'n') {
            out += '\n';
        } else if (c == 'r') {
            out += '\r';
        } else if (c == 't') {
            out += '\t';
        } else if (c == 'x' && i + 2 < in.size()) {
            out += static_cast<char>(std::strtol(in.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

void loadControl() {
    std::ifstream in(gDir + "/fake-wine.control", std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        auto eq = line.find('=');
        if (eq != std::string::npos) gControl[line.substr(0, eq)] = unescape(line.substr(eq + 1));
    }
}

std::string get(const std::string& key, const std::string& fallback = "") {
    auto it = gControl.find(key);
    return it == gControl.end() ? fallback : it->second;
}
int getInt(const std::string& key, int fallback) {
    auto it = gControl.find(key);
    return it == gControl.end() ? fallback : std::atoi(it->second.c_str());
}

// Appends one whole record with a single write, so concurrent invocations
// never interleave inside a record.
void appendFile(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    (void)!::write(fd, text.data(), text.size());
    ::close(fd);
}

void field(std::string& rec, const char* tag, const std::string& value) {
    rec += std::string(tag) + " " + std::to_string(value.size()) + ":" + value + "\n";
}

void recordCall(const std::string& program, int argc, char** argv) {
    std::string rec = "call\n";
    field(rec, "program", program);
    for (int i = 1; i < argc; ++i) field(rec, "arg", argv[i]);
    for (char** e = environ; *e; ++e) field(rec, "env", *e);
    char cwd[4096];
    field(rec, "cwd", ::getcwd(cwd, sizeof cwd) ? cwd : "");
    rec += "end\n";
    appendFile(gDir + "/fake-wine.calls", rec);
}

void rememberPid(pid_t pid) {
    appendFile(gDir + "/fake-wine.pids", std::to_string(pid) + "\n");
}

std::string prefixFromEnv() {
    const char* p = std::getenv("WINEPREFIX");
    if (p && *p) return p;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.wine";
}

void writeText(const std::string& path, const std::string& text) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// ---- server state -------------------------------------------------------
// "fake-wineserver.alive" holds "<pid>\n<prefix>\n"; pid 0 means the state was
// set by the test without a process. An empty prefix matches every prefix.

std::string markerPath() {
    return gDir + "/fake-wineserver.alive";
}

bool readMarker(long& pid, std::string& prefix) {
    std::ifstream in(markerPath());
    if (!in) return false;
    std::string pidText;
    std::getline(in, pidText);
    std::getline(in, prefix);
    pid = std::atol(pidText.c_str());
    return true;
}

bool serverAliveFor(const std::string& prefix) {
    long pid = 0;
    std::string owner;
    if (!readMarker(pid, owner)) return false;
    return owner.empty() || owner == prefix;
}

void startServer(const std::string& prefix) {
    if (serverAliveFor(prefix)) return;
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = ::fork();
    if (pid == 0) {
        // Keeps the inherited stdout and stderr open, as Wine's server does.
        std::string exe = gDir + "/wineserver";
        ::execl(exe.c_str(), exe.c_str(), "--fake-serve", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid < 0) return;
    rememberPid(pid);
    std::string tmp = markerPath() + ".tmp";
    writeText(tmp, std::to_string(pid) + "\n" + prefix + "\n");
    ::rename(tmp.c_str(), markerPath().c_str());
}

// The fake server process: lives while the marker names it, at most
// server.lifetime seconds, so a forgotten server never outlives a test run.
int serve() {
    const auto start = std::chrono::steady_clock::now();
    const double lifetime = std::atof(get("server.lifetime", "60").c_str());
    const long self = ::getpid();
    bool claimed = false;
    for (;;) {
        long pid = 0;
        std::string prefix;
        bool present = readMarker(pid, prefix);
        if (present && pid == self) claimed = true;
        if (claimed && (!present || pid != self)) return 0;
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!claimed && elapsed > 2.0) return 0;
        if (elapsed > lifetime) {
            if (claimed) ::unlink(markerPath().c_str());
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int wineserverMain(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--fake-serve") return serve();
    recordCall("wineserver", argc, argv);
    const std::string prefix = prefixFromEnv();
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "-w") {
        const double limit = std::atof(get("wineserver.wait_limit", "120").c_str());
        const auto start = std::chrono::steady_clock::now();
        while (serverAliveFor(prefix) &&
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return getInt("wineserver.exit", 0);
    }
    if (mode == "-k") {
        long pid = 0;
        std::string owner;
        if (readMarker(pid, owner) && (owner.empty() || owner == prefix)) {
            ::unlink(markerPath().c_str());
            if (pid > 0) ::kill(static_cast<pid_t>(pid), SIGTERM);
        }
        return getInt("wineserver.exit", 0);
    }
    return getInt("wineserver.exit", 0);
}

// ---- registry -----------------------------------------------------------

std::string escapeRegString(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

std::string escapeKey(const std::string& s) {
    std::string out;
    for (char c : s) {
        out += c;
        if (c == '\\') out += '\\';
    }
    return out;
}

std::string registryHeader(bool machine) {
    return std::string("WINE REGISTRY Version 2\n;; All keys relative to ") +
           (machine ? "\\\\Machine" : "\\\\User\\\\S-1-5-21-0-0-0-1000") + "\n\n#arch=win64\n";
}

// Sets one value in Wine's text registry format, replacing an existing value
// of the same name in the same key.
void setRegistryValue(const std::string& file, bool machine, const std::string& key, const std::string& line,
                      const std::string& valueName) {
    std::string text = readText(file);
    if (text.empty()) text = registryHeader(machine);
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);

    const std::string section = "[" + escapeKey(key) + "]";
    const std::string valuePrefix = "\"" + escapeRegString(valueName) + "\"=";
    size_t start = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(section, 0) == 0) start = i;
    }
    if (start == lines.size()) {
        lines.push_back("");
        lines.push_back(section + " " + std::to_string(std::time(nullptr)));
        lines.push_back("#time=1d0000000000000");
        lines.push_back(line);
    } else {
        size_t end = start + 1;
        while (end < lines.size() && !lines[end].empty() && lines[end][0] != '[') ++end;
        bool replaced = false;
        for (size_t i = start + 1; i < end; ++i) {
            if (lines[i].rfind(valuePrefix, 0) == 0) {
                lines[i] = line;
                replaced = true;
            }
        }
        if (!replaced) lines.insert(lines.begin() + static_cast<long>(end), line);
    }
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    writeText(file, out);
}

int regAdd(int argc, char** argv) {
    if (argc < 4 || std::string(argv[2]) != "add") return 1;
    std::string key = argv[3], name, type = "REG_SZ", data;
    for (int i = 4; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "/v" && i + 1 < argc)
            name = argv[++i];
        else if (a == "/t" && i + 1 < argc)
            type = argv[++i];
        else if (a == "/d" && i + 1 < argc)
            data = argv[++i];
    }
    bool machine = false;
    for (const char* root : {"HKEY_LOCAL_MACHINE\\", "HKLM\\"}) {
        if (key.rfind(root, 0) == 0) {
            key = key.substr(std::strlen(root));
            machine = true;
        }
    }
    for (const char* root : {"HKEY_CURRENT_USER\\", "HKCU\\"}) {
        if (key.rfind(root, 0) == 0) key = key.substr(std::strlen(root));
    }
    std::string line = "\"" + escapeRegString(name) + "\"=";
    if (type == "REG_DWORD") {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08lx", std::strtoul(data.c_str(), nullptr, 0));
        line += std::string("dword:") + hex;
    } else {
        line += "\"" + escapeRegString(data) + "\"";
    }
    const std::string prefix = prefixFromEnv();
    setRegistryValue(prefix + (machine ? "/system.reg" : "/user.reg"), machine, key, line, name);
    return 0;
}

// ---- commands -----------------------------------------------------------

void wineboot() {
    const std::string prefix = prefixFromEnv();
    std::error_code ec;
    fs::create_directories(prefix + "/drive_c/windows/system32", ec);
    fs::create_directories(prefix + "/drive_c/windows/syswow64", ec);
    if (!fs::exists(prefix + "/user.reg")) writeText(prefix + "/user.reg", registryHeader(false));
    if (get("wineboot.create", "all") != "noreg" && !fs::exists(prefix + "/system.reg")) {
        writeText(prefix + "/system.reg", registryHeader(true));
    }
}

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// The behaviour common to every command: output, helpers left behind,
// delay, and how the process ends.
int finish(const std::string& cmd, int defaultExit, const std::string& defaultOutput) {
    writeAll(1, get(cmd + ".output", defaultOutput));
    writeAll(2, get(cmd + ".stderr"));
    if (int mb = getInt(cmd + ".output_mb", 0); mb > 0) {
        std::string block(1 << 20, 'w');
        for (int i = 0; i < mb; ++i) writeAll(1, block);
    }
    if (getInt(cmd + ".server", 0) != 0) startServer(prefixFromEnv());
    if (double seconds = std::atof(get(cmd + ".child", "0").c_str()); seconds > 0) {
        pid_t pid = ::fork();
        if (pid == 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            ::_exit(0);
        }
        if (pid > 0) rememberPid(pid);
    }
    if (double seconds = std::atof(get(cmd + ".sleep", "0").c_str()); seconds > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
    if (int sig = getInt(cmd + ".signal", 0); sig > 0) {
        ::signal(sig, SIG_DFL);
        ::raise(sig);
    }
    return getInt(cmd + ".exit", defaultExit);
}

int wineMain(int argc, char** argv) {
    recordCall("wine", argc, argv);
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--version") return finish("version", 0, "wine-11.4 (Staging)\n");
    if (first == "wineboot") {
        if (getInt("wineboot.exit", 0) == 0 && getInt("wineboot.signal", 0) == 0) wineboot();
        return finish("wineboot", 0, "");
    }
    if (first == "reg") {
        int status = regAdd(argc, argv);
        return finish("reg", status, status == 0 ? "The operation completed successfully.\n" : "reg: bad arguments\n");
    }
    // Anything else is a Windows program to run, such as an installer.
    if (getInt("run.steam", 0) != 0) {
        writeText(prefixFromEnv() + "/drive_c/Program Files (x86)/Steam/steam.exe", "fake steam client\n");
    }
    return finish("run", 0, "");
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path self = argv[0];
    gDir = self.parent_path().string();
    loadControl();
    if (self.filename() == "wineserver") return wineserverMain(argc, argv);
    return wineMain(argc, argv);
}
