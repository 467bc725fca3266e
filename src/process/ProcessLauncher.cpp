#include "process/ProcessLauncher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "common/Constants.h"
#include "logging/Logger.h"
#include "platform/MainQueue.h"
#include "platform/RegularFile.h"
#include "platform/Subprocess.h"

namespace fs = std::filesystem;
using platform::OutputMode;
using platform::Subprocess;
using platform::SubprocessSpec;

namespace {

constexpr char kPgrep[] = "/usr/bin/pgrep";
constexpr char kPkill[] = "/usr/bin/pkill";
constexpr char kWebHelperPattern[] = "steamwebhelper.exe";
// The wineserver probe decides by whether "-w" is still waiting after this pause.
constexpr auto kServerProbePause = std::chrono::seconds(1);
// Time the prefix's Wine processes get to go after the server is told to end.
constexpr auto kShutdownGrace = std::chrono::seconds(2);

// How long a probe or clean-up child may take before it is ended. Generous:
// these answer in milliseconds, and one that hangs must not latch a session.
std::atomic<std::chrono::milliseconds::rep> gChildTimeLimitMs{10'000};

std::string describe(const SubprocessSpec& child) {
    std::string text = child.executable;
    for (const auto& argument : child.arguments) text += " " + argument;
    return text;
}

// Waits for a probe or clean-up child within the time limit; past it the child
// is killed, a warning logged, and nullopt returned for the caller to count as
// the probe's failure answer.
std::optional<platform::ExitStatus> waitBounded(Subprocess& process, const SubprocessSpec& child) {
    const std::chrono::milliseconds limit(gChildTimeLimitMs.load());
    if (auto status = process.waitFor(std::chrono::duration<double>(limit).count())) return status;
    process.sendSignal(SIGKILL);
    Logger::shared().warn(describe(child) + " did not finish within " +
                          std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count()) +
                          " s and was ended");
    return std::nullopt;
}

// Starts a probe or clean-up child and waits for it within the time limit.
std::optional<platform::ExitStatus> runBounded(const SubprocessSpec& child) {
    auto started = Subprocess::start(child);
    if (!started.process) return std::nullopt;
    return waitBounded(*started.process, child);
}

// The write end of the Steam output log. The launch keeps one reference and
// the exit watcher another; the watcher closes it while the main thread may
// still hold it, so closing is idempotent and safe from either side.
class LogHandle {
public:
    explicit LogHandle(int fd) : fd_(fd) {}
    ~LogHandle() { close(); }
    LogHandle(const LogHandle&) = delete;
    LogHandle& operator=(const LogHandle&) = delete;

    int fd() const { return fd_.load(); }
    void close() {
        int fd = fd_.exchange(-1);
        if (fd >= 0) ::close(fd);
    }

private:
    std::atomic<int> fd_;
};

SubprocessSpec wineserverCommand(const char* option, OutputMode output) {
    SubprocessSpec child;
    child.executable = Constants::wineserver();
    child.arguments = {option};
    child.environment = Constants::buildSafeEnvironment(Constants::prefixPath());
    child.output = output;
    return child;
}

SubprocessSpec webHelperCommand(const char* tool, std::vector<std::string> arguments, OutputMode output) {
    SubprocessSpec child;
    child.executable = tool;
    child.arguments = std::move(arguments);
    child.environment = platform::currentEnvironment();
    child.output = output;
    return child;
}

}  // namespace

struct ProcessLauncher::State {
    // The current launch's process: read by killAll, which may run on a
    // background queue, and written on the main thread. A plain mutex, because
    // atomic shared_ptr is missing from some standard libraries.
    mutable std::mutex processMutex;
    std::shared_ptr<Subprocess> gameProcess;
    std::shared_ptr<Subprocess> process() const {
        std::lock_guard lock(processMutex);
        return gameProcess;
    }
    void setProcess(std::shared_ptr<Subprocess> process) {
        std::lock_guard lock(processMutex);
        gameProcess = std::move(process);
    }
    // Main thread only.
    std::shared_ptr<LogHandle> logHandle;
    int64_t launchGeneration = 0;
    ExitHandler onExit;
};

ProcessLauncher::ProcessLauncher() : state_(std::make_shared<State>()) {}

ProcessLauncher::~ProcessLauncher() = default;

void ProcessLauncher::setOnExit(ExitHandler handler) {
    state_->onExit = std::move(handler);
}

bool ProcessLauncher::isRunning() const {
    auto process = state_->process();
    return process && process->isRunning();
}

bool ProcessLauncher::launchSteam(const std::string& prefixPath) {
    if (isRunning()) return false;
    const int64_t generation = ++state_->launchGeneration;

    SubprocessSpec child;
    child.executable = Constants::wineBin();
    child.arguments = {Constants::steamExePath};
    child.environment = Constants::buildSafeEnvironment(prefixPath);

    std::error_code ignored;
    fs::create_directories(Constants::supportDir(), ignored);
    // Emptied at every launch, so the log holds the latest launch only. When it
    // cannot be opened, Steam still starts, writing to the launcher's own output.
    int fd = platform::RegularFile::create(outputLogPath());
    state_->logHandle = fd >= 0 ? std::make_shared<LogHandle>(fd) : nullptr;
    if (state_->logHandle) {
        child.output = OutputMode::File;
        child.outputFd = fd;
    } else {
        child.output = OutputMode::Inherit;
    }

    // Runs on the watcher thread: only the file is closed there; everything
    // that touches the launcher happens on the main queue.
    std::weak_ptr<State> weak = state_;
    auto onProcessExit = [weak, kept = state_->logHandle, generation](platform::ExitStatus status) {
        if (kept) kept->close();
        platform::MainQueue::post([weak, generation, status] {
            auto state = weak.lock();
            if (!state || state->launchGeneration != generation) return;  // a newer launch owns the state
            state->logHandle.reset();
            state->setProcess(nullptr);
            if (state->onExit) state->onExit(status.status);
        });
    };

    auto started = Subprocess::start(child, std::move(onProcessExit));
    if (!started.process) {
        if (state_->logHandle) state_->logHandle->close();
        state_->logHandle.reset();
        return false;
    }
    state_->setProcess(std::shared_ptr<Subprocess>(std::move(started.process)));
    return true;
}

void ProcessLauncher::terminate() {
    if (auto process = state_->process()) process->terminate();
}

void ProcessLauncher::killAll() {
    const auto shutdownCommand = wineserverCommand("-k", OutputMode::Inherit);
    auto shutdown = Subprocess::start(shutdownCommand);
    if (shutdown.process) {
        (void)waitBounded(*shutdown.process, shutdownCommand);
    } else if (auto process = state_->process()) {
        process->terminate();  // no Wine to ask: at least end the Steam we started
    }
    std::this_thread::sleep_for(kShutdownGrace);
    (void)runBounded(webHelperCommand(kPkill, {"-9", "-f", kWebHelperPattern}, OutputMode::Inherit));
}

void ProcessLauncher::setChildTimeLimit(std::chrono::milliseconds limit) {
    gChildTimeLimitMs = limit.count();
}

int64_t ProcessLauncher::launchGeneration() const {
    return state_->launchGeneration;
}

bool ProcessLauncher::hasGameProcess() const {
    return state_->process() != nullptr;
}

bool ProcessLauncher::hasLogHandle() const {
    return state_->logHandle != nullptr;
}

bool ProcessLauncher::isOurWineserverRunning() {
    std::error_code ec;
    if (!fs::exists(Constants::wineserver(), ec)) return false;
    // "-w" returns at once when the prefix has no server and otherwise waits
    // for it to end; still waiting after the pause means a server is alive.
    const auto command = wineserverCommand("-w", OutputMode::Null);
    auto probe = Subprocess::start(command);
    if (!probe.process) return false;
    std::this_thread::sleep_for(kServerProbePause);
    if (probe.process->isRunning()) {
        probe.process->terminate();
        (void)waitBounded(*probe.process, command);  // the answer stands; a "-w" that stays is ended
        return true;
    }
    return false;
}

bool ProcessLauncher::isAnySteamWebHelperRunning() {
    const auto status = runBounded(webHelperCommand(kPgrep, {"-f", kWebHelperPattern}, OutputMode::Null));
    return status && !status->signaled && status->status == 0;
}

bool ProcessLauncher::isSteamWebHelperRunning() {
    return isOurWineserverRunning() && isAnySteamWebHelperRunning();
}

bool ProcessLauncher::isSteamReady() {
    return isOurWineserverRunning() && isSteamWebHelperRunning();
}

const std::string& ProcessLauncher::outputLogPath() {
    static const std::string path = Constants::supportDir() + "/wine-steam-output.log";
    return path;
}
