#include "platform/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

extern char** environ;

namespace platform {

namespace {

// Post-exit drain: read what the child left in the pipe, but never wait for
// EOF, because a grandchild (Wine's server) may hold the write end for hours.
constexpr auto kPostExitDrainLimit = std::chrono::milliseconds(1000);

bool makePipe(int fds[2]) {
#ifdef __APPLE__
    if (::pipe(fds) != 0) return false;
    for (int i = 0; i < 2; ++i) ::fcntl(fds[i], F_SETFD, FD_CLOEXEC);
    return true;
#else
    return ::pipe2(fds, O_CLOEXEC) == 0;
#endif
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

ExitStatus decode(int raw) {
    if (WIFSIGNALED(raw)) return {WTERMSIG(raw), true};
    if (WIFEXITED(raw)) return {WEXITSTATUS(raw), false};
    return {raw, false};
}

}  // namespace

struct Subprocess::State {
    pid_t pid = -1;
    mutable std::mutex mutex;
    std::condition_variable finishedCv;
    bool reaped = false;    // guarded by mutex; once true the pid may be recycled
    bool finished = false;  // reaped and output collected
    ExitStatus exit;
    std::string output;
    ExitCallback onExit;
    int outRead = -1;  // Pipe mode: read end, owned by the drain thread
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread drainer;

    void drain() {
        pollfd fds[2] = {{outRead, POLLIN, 0}, {wakeRead, POLLIN, 0}};
        char buf[65536];
        bool exited = false;
        while (!exited) {
            int n = ::poll(fds, 2, -1);
            if (n < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (fds[0].fd >= 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
                ssize_t r = ::read(outRead, buf, sizeof buf);
                if (r > 0) {
                    output.append(buf, static_cast<size_t>(r));
                } else if (r == 0 || (errno != EINTR && errno != EAGAIN)) {
                    fds[0].fd = -1;  // EOF: every writer has gone; wait for the exit
                }
            }
            if (fds[1].revents & (POLLIN | POLLHUP)) exited = true;
        }
        if (fds[0].fd >= 0) {
            ::fcntl(outRead, F_SETFL, ::fcntl(outRead, F_GETFL) | O_NONBLOCK);
            auto deadline = std::chrono::steady_clock::now() + kPostExitDrainLimit;
            while (std::chrono::steady_clock::now() < deadline) {
                ssize_t r = ::read(outRead, buf, sizeof buf);
                if (r > 0) {
                    output.append(buf, static_cast<size_t>(r));
                } else if (r < 0 && errno == EINTR) {
                    continue;
                } else {
                    break;  // EOF, or nothing more right now
                }
            }
        }
        closeFd(outRead);
        closeFd(wakeRead);
    }

    void watch() {
        // Wait without reaping, so that terminate() can never signal a recycled pid.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
        }
        {
            std::lock_guard lock(mutex);
            int raw = 0;
            while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
            }
            exit = decode(raw);
            reaped = true;
        }
        if (drainer.joinable()) {
            char one = 1;
            (void)!::write(wakeWrite, &one, 1);
            drainer.join();
            closeFd(wakeWrite);
        }
        ExitCallback callback;
        {
            std::lock_guard lock(mutex);
            finished = true;
            callback = std::move(onExit);
        }
        finishedCv.notify_all();
        if (callback) callback(exit);
    }
};

std::map<std::string, std::string> currentEnvironment() {
    std::map<std::string, std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry = *e;
        const auto eq = entry.find('=');
        if (eq != std::string_view::npos) env.emplace(entry.substr(0, eq), entry.substr(eq + 1));
    }
    return env;
}

SpawnResult Subprocess::start(const SubprocessSpec& child, ExitCallback onExit) {
    SpawnResult result;
    if (child.executable.empty() || child.executable.front() != '/') {
        result.error = "The executable path is not absolute: " + child.executable;
        return result;
    }
    if (child.output == OutputMode::File && child.outputFd < 0) {
        result.error = "No output file was given";
        return result;
    }

    auto state = std::make_shared<State>();
    state->onExit = std::move(onExit);
    int outPipe[2] = {-1, -1};
    const bool piped = child.output == OutputMode::Pipe || child.output == OutputMode::PipeStdout;
    if (piped) {
        int wake[2];
        if (!makePipe(outPipe) || !makePipe(wake)) {
            result.error = std::strerror(errno);
            closeFd(outPipe[0]);
            closeFd(outPipe[1]);
            return result;
        }
        state->outRead = outPipe[0];
        state->wakeRead = wake[0];
        state->wakeWrite = wake[1];
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef __APPLE__
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    posix_spawn_file_actions_addinherit_np(&actions, 0);
#endif
    posix_spawnattr_setflags(&attr, flags);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    posix_spawnattr_setsigdefault(&attr, &all);

    switch (child.output) {
    case OutputMode::Pipe:
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 2);
        break;
    case OutputMode::PipeStdout:
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        break;
    case OutputMode::File:
        posix_spawn_file_actions_adddup2(&actions, child.outputFd, 1);
        posix_spawn_file_actions_adddup2(&actions, child.outputFd, 2);
        break;
    case OutputMode::Null:
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        break;
    case OutputMode::Inherit:
#ifdef __APPLE__
        posix_spawn_file_actions_addinherit_np(&actions, 1);
        posix_spawn_file_actions_addinherit_np(&actions, 2);
#endif
        break;
    }

#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors that other code opened without close-on-exec stay with us.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif

    std::vector<std::string> argStore;
    argStore.reserve(child.arguments.size() + 1);
    argStore.push_back(child.executable);
    argStore.insert(argStore.end(), child.arguments.begin(), child.arguments.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (const auto& [k, v] : child.environment) envStore.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    int err = ::posix_spawn(&pid, child.executable.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    closeFd(outPipe[1]);

    if (err != 0) {
        result.error = std::strerror(err);
        closeFd(state->outRead);
        closeFd(state->wakeRead);
        closeFd(state->wakeWrite);
        return result;
    }
    state->pid = pid;
    if (piped) {
        state->drainer = std::thread([raw = state.get()] { raw->drain(); });
    }
    // The watcher owns a reference, so the child is reaped even after every
    // handle is gone.
    std::thread([state] { state->watch(); }).detach();
    result.process.reset(new Subprocess(std::move(state)));
    return result;
}

std::optional<Subprocess::RunResult> Subprocess::run(const SubprocessSpec& child, std::string* error) {
    auto started = start(child);
    if (!started.process) {
        if (error) *error = started.error;
        return std::nullopt;
    }
    RunResult r;
    r.exit = started.process->wait();
    r.output = started.process->output();
    return r;
}

Subprocess::Subprocess(std::shared_ptr<State> state) : state_(std::move(state)) {}

Subprocess::~Subprocess() = default;

pid_t Subprocess::pid() const {
    return state_->pid;
}

bool Subprocess::isRunning() const {
    std::lock_guard lock(state_->mutex);
    return !state_->reaped;
}

ExitStatus Subprocess::wait() {
    std::unique_lock lock(state_->mutex);
    state_->finishedCv.wait(lock, [&] { return state_->finished; });
    return state_->exit;
}

std::optional<ExitStatus> Subprocess::waitFor(double seconds) {
    std::unique_lock lock(state_->mutex);
    auto ok =
        state_->finishedCv.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return state_->finished; });
    if (!ok) return std::nullopt;
    return state_->exit;
}

std::string Subprocess::output() const {
    std::lock_guard lock(state_->mutex);
    return state_->finished ? state_->output : std::string();
}

void Subprocess::terminate() {
    sendSignal(SIGTERM);
}

void Subprocess::sendSignal(int signal) {
    std::lock_guard lock(state_->mutex);
    if (!state_->reaped) ::kill(state_->pid, signal);
}

}  // namespace platform
