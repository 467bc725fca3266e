#include "wine/PrefixManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "common/WineText.h"
#include "logging/Logger.h"
#include "platform/Subprocess.h"
#include "wine/SetupLog.h"

namespace fs = std::filesystem;

namespace {

// The service's own texts, in one place.
namespace text {
constexpr char runWine[] = "runWine: ";
constexpr char launchFailed[] = "Launch failed: ";
constexpr char creatingAt[] = "Creating Wine prefix at ";
constexpr char creatingStatus[] = "Creating Wine prefix...";
constexpr char winebootPerf[] = "wineboot completed in ";
constexpr char exitCode[] = "s, exit code: ";
constexpr char prefixCreated[] = "Prefix created: ";
constexpr char winebootFailed[] = "wineboot failed: ";
constexpr char createFailedStatus[] = "Failed to create Wine prefix";
constexpr char runningInstaller[] = "Running user-provided installer: ";
constexpr char installerStatus[] = "Running installer (complete the setup)...";
constexpr char installerExited[] = "Installer exited with code ";
constexpr char installerFailedStatus[] = "Installation may have failed (exit code ";
constexpr char backupInfix[] = ".backup.";
}  // namespace text

constexpr size_t kWinebootErrorCharacters = 500;
// wineboot exits before the prefix's Wine server has written system.reg; the
// server writes it within a few seconds, so a server that is still busy after
// this long is left behind rather than holding up setup for ever.
constexpr double kServerFlushSeconds = 30.0;
// Clean-up commands answer at once; one that hangs is ended.
constexpr double kServerCommandSeconds = 10.0;
constexpr char kFresh[] = "fresh\n";

// "Something exists" in the platform's sense: a link counts when its target exists.
bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// Renames without replacing anything at the destination, as the platform's
// file manager moves: POSIX rename() would silently replace an empty
// directory, and with it a backup.
bool moveItem(const std::string& from, const std::string& to) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// The first bytes of a marker; "" when it cannot be read.
std::string readMarker(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "";
    char buffer[16];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
}

void report(const StatusCallback& status, const std::string& line) {
    if (status) status(line);
}

// Sums lstat sizes below `root`. Pending directories are kept as paths, not
// open descriptors, so neither a wide nor a deep tree can exhaust the
// descriptor table or the thread's stack. Links are never followed;
// unreadable entries and directories are skipped.
int64_t treeSizeBytes(const std::string& root) {
    int64_t total = 0;
    std::vector<std::string> pending{root};
    bool isRoot = true;
    while (!pending.empty()) {
        const std::string path = std::move(pending.back());
        pending.pop_back();
        // The prefix itself may be a link to the real directory; below it nothing is followed.
        const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW);
        isRoot = false;
        const int dirFd = ::open(path.c_str(), flags);
        if (dirFd < 0) continue;
        DIR* dir = ::fdopendir(dirFd);
        if (!dir) {
            ::close(dirFd);
            continue;
        }
        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
            struct stat st {};
            if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            total += static_cast<int64_t>(st.st_size);
            if (S_ISDIR(st.st_mode)) pending.push_back(path + "/" + name);
        }
        ::closedir(dir);
    }
    return total;
}

}  // namespace

PrefixManager::PrefixManager(std::string prefixPath, std::string wineBin)
    : prefixPath_(std::move(prefixPath)), wineBin_(std::move(wineBin)), log_(Logger::shared()) {}

const std::string& PrefixManager::setupLogPath() {
    static const std::string path = Constants::supportDir() + "/setup-output.log";
    return path;
}

PrefixManager::WineResult PrefixManager::runWine(const std::vector<std::string>& arguments) {
    log_.info(text::runWine + WineText::joinArguments(arguments));
    platform::SubprocessSpec child;
    child.executable = wineBin_;
    child.arguments = arguments;
    child.environment = Constants::buildSafeEnvironment(prefixPath_);
    child.output = platform::OutputMode::Pipe;

    // The pipe is drained while Wine runs, and the run ends when Wine exits
    // even if its server still holds the pipe open.
    std::string startError;
    auto run = platform::Subprocess::run(child, &startError);
    if (!run) {
        const std::string message = text::launchFailed + startError;
        SetupLog::append(setupLogPath(), SetupLog::failedSection(arguments, message), false);
        return {message, -1};
    }
    WineResult result;
    if (WineText::isValidUtf8(run->output)) result.output = std::move(run->output);
    result.status = run->exit.status;
    SetupLog::append(setupLogPath(), SetupLog::startedSection(arguments, result.output), true);
    return result;
}

bool PrefixManager::wineExists() const {
    return exists(wineBin_);
}

PrefixManager::VersionCheck PrefixManager::checkWineVersion() {
    VersionCheck check;
    check.version = WineText::trimWhitespace(runWine({"--version"}).output);
    check.valid = check.version.rfind(Constants::wineVersionRequired, 0) == 0;
    return check;
}

bool PrefixManager::prefixExists() const {
    std::error_code ec;
    return exists(prefixPath_ + "/system.reg") && !fs::exists(fs::symlink_status(prefixPath_ + kCreatingMarker, ec));
}

bool PrefixManager::steamInstalled() const {
    return exists(prefixPath_ + Constants::steamExeUnix);
}

bool PrefixManager::gameInstalled() const {
    return exists(prefixPath_ + Constants::gameExePath);
}

std::optional<std::string> PrefixManager::backupPrefix() {
    if (!exists(prefixPath_)) return std::nullopt;
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
    const std::string backup = prefixPath_ + text::backupInfix + std::to_string(seconds.count());
    if (!moveItem(prefixPath_, backup)) return std::nullopt;
    return backup;
}

bool PrefixManager::restoreBackup(const std::string& backupPath) {
    // Without a backup to put back, removing the prefix would only lose it.
    std::error_code ec;
    if (backupPath == prefixPath_ || !fs::exists(fs::symlink_status(backupPath, ec))) return false;
    // system.reg goes first: a removal cut short then leaves a prefix that no
    // longer counts as present, so the next start puts the backup back.
    fs::remove(prefixPath_ + "/system.reg", ec);
    fs::remove_all(prefixPath_, ec);
    return moveItem(backupPath, prefixPath_);
}

// The seconds of a path of backupPrefix()'s form, or nothing for any other path.
std::optional<uint64_t> PrefixManager::backupSeconds(const std::string& path) const {
    const std::string stem = prefixPath_ + text::backupInfix;
    if (path.size() <= stem.size() || path.size() > stem.size() + 19 || path.compare(0, stem.size(), stem) != 0)
        return std::nullopt;
    uint64_t seconds = 0;
    for (size_t i = stem.size(); i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9') return std::nullopt;
        seconds = seconds * 10 + static_cast<uint64_t>(path[i] - '0');
    }
    return seconds;
}

void PrefixManager::deleteBackup(const std::string& backupPath) {
    // Recursive removal of whatever a caller passes is too sharp a tool: only
    // a path of backupPrefix()'s form is removed.
    if (!backupSeconds(backupPath)) return;
    std::error_code ec;
    fs::remove_all(backupPath, ec);
}

std::vector<std::string> PrefixManager::backups() const {
    std::vector<std::pair<uint64_t, std::string>> found;
    std::error_code ec;
    const fs::path parent = fs::path(prefixPath_).parent_path();
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string path = parent.string() + "/" + it->path().filename().string();
        if (const auto seconds = backupSeconds(path)) found.emplace_back(*seconds, path);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& entry : found) paths.push_back(std::move(entry.second));
    return paths;
}

int64_t PrefixManager::prefixSizeBytes() const {
    return treeSizeBytes(prefixPath_);
}

bool PrefixManager::createPrefix(const StatusCallback& status) {
    log_.info(text::creatingAt + prefixPath_);
    report(status, text::creatingStatus);
    std::error_code ec;
    fs::create_directories(prefixPath_, ec);
    beginCreation();

    const auto start = std::chrono::steady_clock::now();
    const WineResult result = runWine({"wineboot"});
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    log_.perf(text::winebootPerf + WineText::formatSeconds(elapsed) + text::exitCode + std::to_string(result.status));

    if (result.status == 0) {
        // Only a registry the server has finished saving makes the prefix whole.
        if (serverCommand("-w", kServerFlushSeconds) && exists(prefixPath_ + "/system.reg"))
            fs::remove(prefixPath_ + kCreatingMarker, ec);
        log_.info(std::string(text::prefixCreated) + (prefixExists() ? "true" : "false"));
        return prefixExists();
    }
    log_.error(text::winebootFailed + WineText::leadingCharacters(result.output, kWinebootErrorCharacters));
    report(status, text::createFailedStatus);
    return false;
}

// The marker stays in the prefix from before wineboot until its server has
// saved the registry, so a creation that failed or was killed (which leaves a
// small system.reg behind) is never taken for a prefix. A prefix without it is
// one whose creation finished, an earlier launcher's included.
void PrefixManager::beginCreation() {
    const std::string marker = prefixPath_ + kCreatingMarker;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(marker, ec))) {
        // "fresh": everything that will be in the prefix is wineboot's own.
        const bool fresh = fs::is_empty(prefixPath_, ec) && !ec;
        (void)writeMarker(marker, fresh ? kFresh : "");
        return;
    }
    // A Wine left running by a killed launcher must not write into what is rebuilt.
    (void)serverCommand("-k", kServerCommandSeconds);
    (void)serverCommand("-w", kServerCommandSeconds);
    if (readMarker(marker) != kFresh) return;  // wineboot runs again in place, over files that may be the user's
    // Nothing here was ever a finished prefix: start from an empty directory.
    // The marker goes last, so a removal cut short is cleared again next time.
    for (fs::directory_iterator it(prefixPath_, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code removeError;
        if (it->path().filename() != fs::path(marker).filename()) fs::remove_all(it->path(), removeError);
    }
}

// Runs the prefix's wineserver with `option` within `seconds`; false when it
// had to be ended. No server program means nothing to wait for.
bool PrefixManager::serverCommand(const char* option, double seconds) {
    platform::SubprocessSpec child;
    child.executable = Constants::wineserver();
    child.arguments = {option};
    child.environment = Constants::buildSafeEnvironment(prefixPath_);
    auto started = platform::Subprocess::start(child);
    if (!started.process) return true;
    if (started.process->waitFor(seconds)) return true;
    started.process->sendSignal(SIGKILL);
    log_.warn(std::string("wineserver ") + option + " did not finish within " +
              std::to_string(static_cast<int>(seconds)) + " s; going on");
    return false;
}

bool PrefixManager::writeMarker(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    return ::close(fd) == 0 && written;
}

bool PrefixManager::runInstaller(const std::string& path, const StatusCallback& status) {
    log_.info(text::runningInstaller + path);
    report(status, text::installerStatus);
    const WineResult result = runWine({path});
    const std::string code = std::to_string(result.status);
    log_.info(text::installerExited + code);
    if (result.status != 0) report(status, text::installerFailedStatus + code + ")");
    return steamInstalled();
}
