// Test fixture standing in for the launcher's private Wine runtime, which
// cannot run here. testsupport::FakeWine copies this one program to both
// <wineDir>/bin/wine and <wineDir>/bin/wineserver; it tells the roles apart by
// the name it was started under. The child environment is sanitised, so it
// reads its instructions from "fake-wine.control" beside itself and records
// every invocation in "fake-wine.calls" there. See tests/support/README.md.
#include "../FakeWine.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
extern char** environ;

namespace {

std::string gDir;  // the bin directory holding the fixture and its files
std::map<std::string, std::string> gControl;

std::string get(const std::string& key, const std::string& fallback = "") {
    auto it = gControl.find(key);
    return it == gControl.end() ? fallback : it->second;
}
double number(const std::string& key, double fallback = 0) {
    return std::atof(get(key, std::to_string(fallback)).c_str());
}
double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}
void nap(double seconds = 0.02) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void writeAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// One whole record per write, so concurrent invocations never interleave.
void appendFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    writeAll(fd, text);
    ::close(fd);
}

void writeFile(const std::string& path, const std::string& text) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void rememberPid(pid_t pid) {
    if (pid > 0) appendFile(gDir + "/fake-wine.pids", std::to_string(pid) + "\n");
}

// Starts this program again as `role` (a fake server or web helper).
pid_t spawn(const char* exe, const char* role, const char* extra = nullptr) {
    const std::string path = gDir + "/" + exe;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(path.c_str(), path.c_str(), role, extra, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    rememberPid(pid);
    return pid;
}

void recordCall(const std::string& program, int argc, char** argv) {
    std::string record = testsupport::fakeWineField("program", program);
    for (int i = 1; i < argc; ++i) record += testsupport::fakeWineField("arg", argv[i]);
    for (char** e = environ; *e; ++e) record += testsupport::fakeWineField("env", *e);
    appendFile(gDir + "/fake-wine.calls", record + "end\n");
}

std::string prefix() {
    const char* p = std::getenv("WINEPREFIX");
    const char* home = std::getenv("HOME");
    return p && *p ? p : std::string(home ? home : "") + "/.wine";
}

// ---- server state -------------------------------------------------------
// "fake-wineserver.alive" holds "<pid>\n<prefix>\n"; pid 0 means a test set
// it without a process, and an empty prefix matches every prefix.

std::string markerPath() {
    return gDir + "/fake-wineserver.alive";
}

bool readMarker(long& pid, std::string& owner) {
    std::ifstream in(markerPath());
    std::string pidText;
    if (!in || !std::getline(in, pidText)) return false;
    std::getline(in, owner);
    pid = std::atol(pidText.c_str());
    return true;
}

bool serverAliveFor(const std::string& p) {
    long pid = 0;
    std::string owner;
    return readMarker(pid, owner) && (owner.empty() || owner == p);
}

// Removes the state of `p`'s server and terminates its process; `anyOwner`
// lets a state without a prefix match too.
void endServer(const std::string& p, bool anyOwner) {
    long pid = 0;
    std::string owner;
    if (!readMarker(pid, owner) || !(owner == p || (anyOwner && owner.empty()))) return;
    ::unlink(markerPath().c_str());
    if (pid > 0) ::kill(static_cast<pid_t>(pid), SIGTERM);
}

// The fake server inherits stdout and stderr, as Wine's does.
void startServer(const std::string& p) {
    if (serverAliveFor(p)) return;
    std::fflush(nullptr);
    const pid_t pid = spawn("wineserver", "--fake-serve");
    if (pid < 0) return;
    writeFile(markerPath() + ".tmp", std::to_string(pid) + "\n" + p + "\n");
    ::rename((markerPath() + ".tmp").c_str(), markerPath().c_str());
}

// The fake server process: lives while the state names it, at most
// server.lifetime seconds, so a forgotten server never outlives a test run.
int serve() {
    const auto start = Clock::now();
    const long self = ::getpid();
    for (bool claimed = false;; nap()) {
        long pid = 0;
        std::string owner;
        const bool present = readMarker(pid, owner);
        if (present && pid == self) claimed = true;
        if (claimed && (!present || pid != self)) return 0;
        if (!claimed && secondsSince(start) > 2.0) return 0;
        if (secondsSince(start) > number("server.lifetime", 60)) {
            if (claimed) ::unlink(markerPath().c_str());
            return 0;
        }
    }
}

int wineserverMain(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--fake-serve") return serve();
    recordCall("wineserver", argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    for (const auto start = Clock::now(); mode == "-w" && serverAliveFor(prefix()) && secondsSince(start) < 120;) nap();
    if (mode == "-k") endServer(prefix(), true);
    return 0;
}

// ---- commands -----------------------------------------------------------

// The keys every command has: output, a child left behind, delay, end.
int finish(const std::string& cmd, const std::string& defaultOutput = "") {
    writeAll(1, get(cmd + ".output", defaultOutput));
    writeAll(2, get(cmd + ".stderr"));
    if (const double seconds = number(cmd + ".child"); seconds > 0) {
        const pid_t pid = ::fork();
        if (pid == 0) nap(seconds), ::_exit(0);
        rememberPid(pid);
    }
    nap(number(cmd + ".sleep"));
    if (const int sig = static_cast<int>(number(cmd + ".signal")); sig > 0) {
        ::signal(sig, SIG_DFL);
        ::raise(sig);
    }
    return static_cast<int>(number(cmd + ".exit"));
}

void wineboot() {
    const std::string p = prefix();
    std::error_code ec;
    for (const char* dir : {"system32", "syswow64"}) fs::create_directories(p + "/drive_c/windows/" + dir, ec);
    if (get("wineboot.create", "all") != "noreg") writeFile(p + "/system.reg", "WINE REGISTRY Version 2\n");
}

// ---- Steam client -------------------------------------------------------
// steam.exe starts the prefix's server and stays alive like the real client,
// until the server ends (wineserver -k), SIGTERM, steam.quit_after seconds or
// server.lifetime. After steam.helper_delay seconds ("never": a launch that
// hangs) it starts a web helper: a fixture process whose command line holds
// "steamwebhelper.exe" and that lives while the server does.

constexpr char kSteamExe[] = "C:\\Program Files (x86)\\Steam\\steam.exe";
constexpr char kHelperExe[] = "C:\\Program Files (x86)\\Steam\\bin\\cef\\cef.win7x64\\steamwebhelper.exe";
volatile sig_atomic_t gStop = 0;

int runSteam() {
    rememberPid(::getpid());
    struct sigaction stop {};
    stop.sa_handler = [](int) { gStop = 1; };
    ::sigaction(SIGTERM, &stop, nullptr);
    writeAll(1, get("steam.output", "fake steam client starting\n"));
    startServer(prefix());

    const std::string delay = get("steam.helper_delay", "0");
    const double quitAfter = number("steam.quit_after");
    const auto start = Clock::now();
    pid_t helper = -1;
    for (; !gStop && serverAliveFor(prefix()); nap()) {
        const double elapsed = secondsSince(start);
        if (elapsed > number("server.lifetime", 60) || (quitAfter > 0 && elapsed > quitAfter)) break;
        if (helper < 0 && delay != "never" && elapsed >= std::atof(delay.c_str())) {
            helper = spawn("wine", "--fake-helper", kHelperExe);
        }
    }
    if (helper > 0) ::kill(helper, SIGTERM), ::waitpid(helper, nullptr, 0);
    endServer(prefix(), false);  // Wine's server goes once its last client has.
    return static_cast<int>(number("steam.exit"));
}

int wineMain(int argc, char** argv) {
    recordCall("wine", argc, argv);
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--version") return finish("version", "wine-11.4 (Staging)\n");
    if (first == "wineboot" && number("wineboot.exit") == 0 && number("wineboot.signal") == 0) wineboot();
    if (first == "wineboot") return finish("wineboot");
    if (first == "reg") return finish("reg", "The operation completed successfully.\n");
    if (first == kSteamExe && argc == 2) return runSteam();
    // Anything else is a Windows program to run, such as an installer.
    if (number("run.steam") != 0) writeFile(prefix() + "/drive_c/Program Files (x86)/Steam/steam.exe", "fake steam\n");
    return finish("run");
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path self = argv[0];
    gDir = self.parent_path().string();
    std::ifstream in(gDir + "/fake-wine.control", std::ios::binary);
    for (std::string key, value; testsupport::readFakeWineField(in, key, value);) gControl[key] = value;
    // The web helper lives while its prefix's server does.
    for (const auto start = Clock::now(); argc > 1 && std::string(argv[1]) == "--fake-helper"; nap()) {
        if (!serverAliveFor(prefix()) || secondsSince(start) > number("server.lifetime", 60)) return 0;
    }
    return self.filename() == "wineserver" ? wineserverMain(argc, argv) : wineMain(argc, argv);
}
