#include "diagnostics/DiagnosticsExporter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "common/Constants.h"
#include "common/WineText.h"
#include "platform/Paths.h"
#include "platform/Subprocess.h"
#include "process/ProcessLauncher.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;

namespace {

// Runs a tool with the launcher's environment and its standard error, and
// returns what it printed on standard output; "" when it cannot be started.
std::string toolOutput(const std::string& executable, std::vector<std::string> arguments) {
    platform::SubprocessSpec child;
    child.executable = executable;
    child.arguments = std::move(arguments);
    child.environment = platform::currentEnvironment();
    child.output = platform::OutputMode::PipeStdout;
    auto result = platform::Subprocess::run(child);
    return result ? result->output : std::string();
}

// The variables reported in "env_vars.txt", in this order: the Wine child
// settings plus two that only the launcher's own environment may hold.
constexpr std::array<const char*, 11> kWatchedVariables = {
    "GALLIUM_DRIVER",
    "MESA_GL_VERSION_OVERRIDE",
    "MESA_GLSL_VERSION_OVERRIDE",
    "mesa_glthread",
    "mesa_no_error",
    "MVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS",
    "MVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS",
    "MVK_CONFIG_LOG_LEVEL",
    "WINEESYNC",
    "WINEDEBUG",
    "WINEPREFIX",
};

// "NAME=value\n" per watched variable: the Wine setting, else the launcher's
// own value, else "(not set)".
std::string environmentText() {
    const auto& wineSettings = Constants::wineEnvVars();
    std::string text;
    for (const char* name : kWatchedVariables) {
        std::string value = "(not set)";
        if (auto it = wineSettings.find(name); it != wineSettings.end()) {
            value = it->second;
        } else if (const char* own = std::getenv(name)) {
            value = own;
        }
        text += std::string(name) + "=" + value + "\n";
    }
    return text;
}

std::string textOrUnknown(std::string bytes) {
    return WineText::isValidUtf8(bytes) ? bytes : "unknown";
}

// A regular file that is not reached through a symbolic link at its own name.
// Windows programs write the prefix (and through Wine's Z: drive, anything),
// so a log there that is really a link to, say, a private key must never end
// up in an archive the user sends away.
bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Creates `path` as a new file; an existing entry of that name (file or link)
// makes it fail, so the first copy of a name stays.
int createNew(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

void writeNewFile(const std::string& path, std::string_view bytes) {
    int fd = createNew(path);
    if (fd < 0) return;
    const bool ok = writeAll(fd, bytes);
    ::close(fd);
    if (!ok) ::unlink(path.c_str());
}

// Copies a regular file (never one behind a link) into a new file; a failed
// copy leaves nothing behind.
void copyNewFile(const std::string& from, const std::string& to) {
    if (!isRegularFile(from)) return;
    int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) return;
    int out = createNew(to);
    if (out < 0) {
        ::close(in);
        return;
    }
    bool ok = true;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (!writeAll(out, std::string_view(buf, static_cast<size_t>(n)))) {
            ok = false;
            break;
        }
    }
    ::close(in);
    ::close(out);
    if (!ok) ::unlink(to.c_str());
}

// Directory entries by name, so that "the first copy wins" means the same on
// every file system; empty when the directory cannot be listed.
std::vector<std::string> sortedEntries(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Removes whatever is at `path` without following a symbolic link there: a
// link is removed itself, never its target.
void removeEntry(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

// Removes the staging directory however the export ends.
struct StagingCleanup {
    const std::string& path;
    ~StagingCleanup() { removeEntry(path); }
};

void collectGameDebugLogs(const std::string& prefixPath, const std::string& staging) {
    const std::string users = prefixPath + "/drive_c/users";
    for (const auto& user : sortedEntries(users)) {
        const std::string gameData = users + "/" + user + "/AppData/Roaming/Vantor Games/Quillmoor";
        for (const auto& entry : sortedEntries(gameData)) {
            copyNewFile(gameData + "/" + entry + "/logs/debug.log", staging + "/game-debug-" + entry + ".log");
        }
    }
}

// Packs the staging directory with zip in a private directory of its own and
// moves the result into place with rename, which replaces a link planted at
// the archive path instead of writing through it. True when the archive now
// at `archive` is the one just made.
bool packArchive(const std::string& zip, const std::string& staging, const std::string& tmp,
                 const std::string& archive) {
    removeEntry(archive);  // an earlier archive is replaced, never added to

    std::string workDir = tmp + DiagnosticsExporter::archiveName + ".XXXXXX";
    if (!::mkdtemp(workDir.data())) return false;
    const std::string packed = workDir + "/" + DiagnosticsExporter::archiveName;

    platform::SubprocessSpec child;
    child.executable = zip;
    child.arguments = {"-r", "-j", packed, staging + "/"};
    child.environment = platform::currentEnvironment();
    child.output = platform::OutputMode::Null;
    (void)platform::Subprocess::run(child);

    bool placed = false;
    struct stat st {};
    if (::lstat(packed.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        placed = ::rename(packed.c_str(), archive.c_str()) == 0;
    }
    removeEntry(workDir);
    return placed;
}

}  // namespace

std::optional<std::string> DiagnosticsExporter::exportArchive(const std::string& prefixPath) {
    return exportArchive(prefixPath, Tools{});
}

std::optional<std::string> DiagnosticsExporter::exportArchive(const std::string& prefixPath, const Tools& tools) {
    const std::string tmp = platform::Paths::temporaryDirectory();
    const std::string staging = tmp + stagingName;
    const std::string archive = tmp + archiveName;

    std::error_code ec;
    fs::create_directories(tmp, ec);
    // In a shared temporary directory another user may own what sits at the
    // staging path; leave it alone rather than work around it.
    struct stat existing {};
    if (::lstat(staging.c_str(), &existing) == 0 && existing.st_uid != ::geteuid()) return std::nullopt;
    removeEntry(staging);
    // Exclusive and private: fails when anything, a link included, took the
    // name after the removal.
    if (::mkdir(staging.c_str(), 0700) != 0) return std::nullopt;
    StagingCleanup cleanup{staging};
    const std::string dir = staging + "/";

    writeNewFile(dir + "wine_version.txt", textOrUnknown(toolOutput(Constants::wineBin(), {"--version"})));
    writeNewFile(dir + "macos_version.txt", textOrUnknown(toolOutput(tools.swVers, {})));
    writeNewFile(dir + "env_vars.txt", environmentText());

    copyNewFile(Constants::stateFile(), dir + "state.json");
    const std::string consoleLog = prefixPath + "/drive_c/Program Files (x86)/Steam/logs/console_log.txt";
    if (isRegularFile(consoleLog)) {
        writeNewFile(dir + "steam_console_log.txt", toolOutput(tools.tail, {"-1000", consoleLog}));
    }
    copyNewFile(PrefixManager::setupLogPath(), dir + "setup_output.log");
    const std::string& steamOutput = ProcessLauncher::outputLogPath();
    if (isRegularFile(steamOutput)) {
        writeNewFile(dir + "wine_steam_output.log", toolOutput(tools.tail, {"-2000", steamOutput}));
    }
    collectGameDebugLogs(prefixPath, staging);

    if (!packArchive(tools.zip, staging, tmp, archive)) return std::nullopt;
    return archive;
}
