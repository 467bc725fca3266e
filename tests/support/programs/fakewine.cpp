// Test fixture standing in for the launcher's private Wine runtime, installed
// as both bin/wine and bin/wineserver; its files and keys: tests/support/README.md.
#include "../FakeWine.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace fs = std::filesystem;
extern char** environ;

namespace {

std::string gDir;  // the bin directory holding the fixture and its files
std::map<std::string, std::string> gControl;
const auto gStart = std::chrono::steady_clock::now();

const auto number = [](const std::string& key, double fallback = 0) {
    return gControl.count(key) ? std::atof(gControl[key].c_str()) : fallback;
};
const auto elapsed = [] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - gStart).count(); };
const auto nap = [](double seconds = 0.02) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); };
void writeAll(int fd, const std::string& text) {
    for (ssize_t done = 0, n = 0; done < static_cast<ssize_t>(text.size()); done += n)
        if ((n = ::write(fd, text.data() + done, text.size() - done)) <= 0) return;
}
// One whole record per write, so concurrent invocations never interleave.
void append(const std::string& name, const std::string& text) {
    const int fd = ::open((gDir + "/" + name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) writeAll(fd, text), ::close(fd);
}
const auto notePid = [](pid_t pid) { pid > 0 ? append("fake-wine.pids", std::to_string(pid) + "\n") : void(); };
// Replaced by a rename, so no reader sees half a file.
void writeFile(const std::string& path, const std::string& text) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream(path + ".tmp", std::ios::binary | std::ios::trunc) << text;
    fs::rename(path + ".tmp", path, ec);
}
// Starts this program again as `role` (a fake server or web helper).
pid_t spawn(const char* exe, const char* role, const char* extra = nullptr) {
    const std::string path = gDir + "/" + exe;
    const pid_t pid = ::fork();
    if (pid == 0) ::execl(path.c_str(), path.c_str(), role, extra, static_cast<char*>(nullptr)), ::_exit(127);
    return notePid(pid), pid;
}
const auto prefix = [] {
    const char* p = std::getenv("WINEPREFIX");
    return std::string(p ? p : "");
};

// The server state "fake-wineserver.alive" holds "<pid>\n<prefix>\n" (an empty prefix: any prefix).
const auto marker = [] { return gDir + "/fake-wineserver.alive"; };
struct Server {
    bool alive = false;
    pid_t pid = 0;
    std::string owner;
};
Server server() {
    std::ifstream in(marker());
    std::string pid;
    Server s;
    s.alive = static_cast<bool>(std::getline(in, pid));
    return std::getline(in, s.owner), s.pid = std::atoi(pid.c_str()), s;
}
const auto serverAliveFor = [](const std::string& p, const Server& s = server()) {
    return s.alive && (s.owner.empty() || s.owner == p);
};
// Removes `p`'s server state and ends its process; `anyOwner`: an unowned state too.
void endServer(const std::string& p, bool anyOwner) {
    const Server s = server();
    if (!s.alive || !(s.owner == p || (anyOwner && s.owner.empty()))) return;
    ::unlink(marker().c_str());
    if (s.pid > 0) ::kill(s.pid, SIGTERM);
}
// A fake server lives while the state names it, at most server.lifetime seconds.
int serve() {
    for (bool claimed = false;; nap()) {
        const Server s = server();
        const bool mine = s.alive && s.pid == ::getpid();
        claimed = claimed || mine;
        if (!mine && (claimed || elapsed() > 2.0)) return 0;
        if (elapsed() > number("server.lifetime", 60)) return mine && ::unlink(marker().c_str()), 0;
    }
}

// The keys every command has: output, delay, end.
int finish(const std::string& cmd, const std::string& defaultOutput = "") {
    writeAll(1, gControl.count(cmd + ".output") ? gControl[cmd + ".output"] : defaultOutput);
    writeAll(2, gControl[cmd + ".stderr"]);
    if (number(cmd + ".sleep") > 0) notePid(::getpid()), nap(number(cmd + ".sleep"));
    if (const int sig = static_cast<int>(number(cmd + ".signal")); sig > 0) ::signal(sig, SIG_DFL), ::raise(sig);
    return static_cast<int>(number(cmd + ".exit"));
}

// The Steam client: starts the prefix's server (inheriting stdout, as Wine's does) and a web helper,
// and ends with the server.
volatile sig_atomic_t gStop = 0;
int runSteam() {
    notePid(::getpid());
    ::signal(SIGTERM, [](int) { gStop = 1; });
    finish("steam", "fake steam client starting\n");
    if (const pid_t server = serverAliveFor(prefix()) ? 0 : spawn("wineserver", "--fake-serve"); server > 0)
        writeFile(marker(), std::to_string(server) + "\n" + prefix() + "\n");
    const std::string delay = gControl["steam.helper_delay"];
    const double quitAfter = number("steam.quit_after");
    pid_t helper = -1;
    for (; !gStop && serverAliveFor(prefix()); nap()) {
        if (elapsed() > number("server.lifetime", 60) || (quitAfter > 0 && elapsed() > quitAfter)) break;
        if (helper < 0 && delay != "never" && elapsed() >= std::atof(delay.c_str()))
            helper = spawn("wine", "--fake-helper",
                           "C:\\Program Files (x86)\\Steam\\bin\\cef\\cef.win7x64\\steamwebhelper.exe");
    }
    if (helper > 0) ::kill(helper, SIGTERM), ::waitpid(helper, nullptr, 0);
    endServer(prefix(), false);  // Wine's server goes once its last client has.
    return static_cast<int>(number("steam.exit"));
}

// "reg add HKEY_CURRENT_USER\\KEY /v NAME [/t REG_DWORD] /d DATA /f" into user.reg in Wine's text
// format; a value of the same name in the same key is replaced.
void regAdd(int argc, char** argv) {
    if (argc < 4 || std::string(argv[2]) != "add") return;
    std::map<std::string, std::string> option;
    for (int i = 4; i + 1 < argc; i += 2) option[argv[i]] = argv[i + 1];
    std::string key;  // without the hive, its backslashes doubled as Wine writes them
    for (const char* c = argv[3] + (std::string(argv[3]).rfind("HKEY_CURRENT_USER\\", 0) == 0 ? 18 : 0); *c; ++c)
        key += *c == '\\' ? std::string("\\\\") : std::string(1, *c);
    const std::string name = "\"" + option["/v"] + "\"=";  // the launcher's names and data need no escaping
    char dword[32];
    std::snprintf(dword, sizeof dword, "dword:%08lx", std::strtoul(option["/d"].c_str(), nullptr, 0));
    const std::string line = name + (option["/t"] == "REG_DWORD" ? dword : "\"" + option["/d"] + "\"");
    std::ifstream in(prefix() + "/user.reg", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    // Wine stamps every key: "[KEY] <seconds>" and a "#time=" line (hex 100 ns units).
    const std::string opening = "\n[" + key + "] ";
    if (text.find(opening) == std::string::npos) text += opening + "1765000000\n#time=1db66a2c5e0f3a4\n";
    const size_t body = text.find('\n', text.find(opening) + 1) + 1;
    const size_t end = std::min(text.find("\n[", body), text.size());
    const size_t old = text.find(name, body);
    old < end ? (void)text.replace(old, text.find('\n', old) - old, line)
              : (void)text.insert(end, (end > 0 && text[end - 1] != '\n' ? "\n" : "") + line + "\n");
    writeFile(prefix() + "/user.reg", text);
}

// Writes system.reg for `p` when a wineboot left it unsaved.
void saveRegistry(const std::string& p) {
    std::ifstream in(gDir + "/fake-wine.unsaved");
    std::string rest;
    bool found = false;
    for (std::string line; std::getline(in, line);) rest += line == p ? (found = true, "") : line + "\n";
    if (found) writeFile(p + "/system.reg", "WINE REGISTRY Version 2\n#arch=win64\n");
    if (found) writeFile(gDir + "/fake-wine.unsaved", rest);
}

int wineMain(const std::string& first, int argc, char** argv) {
    const std::string p = prefix();
    if (first == "--version") return finish("version", "wine-11.4 (Staging)\n");
    const std::string create = gControl.count("wineboot.create") ? gControl["wineboot.create"] : "all";
    const bool partial = create == "partial";
    if (first == "wineboot" && (partial || (number("wineboot.exit") == 0 && number("wineboot.signal") == 0))) {
        std::error_code ec;
        for (const char* dir : {"system32", "syswow64"}) fs::create_directories(p + "/drive_c/windows/" + dir, ec);
        // A wineboot that fails or is killed half-way leaves the registry its server saved so far.
        if (partial) writeFile(p + "/system.reg", "WINE REGISTRY Version 2\n;; cut short\n");
        // As with Wine, wineboot exits before its server has saved system.reg:
        // that happens when the server ends ("wineserver -w" or "-k" here).
        if (create == "all") append("fake-wine.unsaved", p + "\n");
        if (!fs::exists(p + "/user.reg")) writeFile(p + "/user.reg", "WINE REGISTRY Version 2\n#arch=win64\n");
    }
    if (first == "wineboot") return finish("wineboot");
    if (first == "reg" && number("reg.exit") == 0) regAdd(argc, argv);
    if (first == "reg") return finish("reg", "The operation completed successfully.\n");
    if (first == "C:\\Program Files (x86)\\Steam\\steam.exe" && argc == 2) return runSteam();
    // Anything else is a Windows program to run, such as an installer.
    if (number("run.steam") != 0) writeFile(p + "/drive_c/Program Files (x86)/Steam/steam.exe", "fake steam\n");
    return finish("run");
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path self = argv[0];
    gDir = self.parent_path().string();
    std::ifstream in(gDir + "/fake-wine.control", std::ios::binary);
    for (std::string key, value; testsupport::readFakeWineField(in, key, value);) gControl[key] = value;
    const std::string first = argc > 1 ? argv[1] : "", program = self.filename();
    if (first == "--fake-serve") return serve();
    // The web helper lives while its prefix's server does.
    while (first == "--fake-helper" && serverAliveFor(prefix()) && elapsed() < number("server.lifetime", 60)) nap();
    if (first == "--fake-helper") return 0;
    std::string record = testsupport::fakeWineField("program", program);
    for (int i = 1; i < argc; ++i) record += testsupport::fakeWineField("arg", argv[i]);
    for (char** e = environ; *e; ++e) record += testsupport::fakeWineField("env", *e);
    append("fake-wine.calls", record + "end\n");
    if (program != "wineserver") return wineMain(first, argc, argv);
    if (number("wineserver.ignore_term") > 0) ::signal(SIGTERM, SIG_IGN);
    if (number("wineserver.sleep") > 0) notePid(::getpid()), nap(number("wineserver.sleep"));
    saveRegistry(prefix());
    while (first == "-w" && serverAliveFor(prefix()) && elapsed() < 120) nap();
    if (first == "-k") endServer(prefix(), true);
    return 0;
}
