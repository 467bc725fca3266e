#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Where a child's standard output and standard error go. Standard input and
// the working directory are always inherited from the launcher.
enum class OutputMode {
    Pipe,        // stdout+stderr merged into one pipe, collected while the child runs
    PipeStdout,  // stdout alone into the pipe; stderr to /dev/null
    File,        // stdout+stderr written to SubprocessSpec::outputFd
    Null,        // /dev/null
    Inherit,     // the launcher's own stdout and stderr
};

struct SubprocessSpec {
    std::string executable;                          // absolute path; there is no PATH search
    std::vector<std::string> arguments;              // argv[1..]; argv[0] is the executable
    std::map<std::string, std::string> environment;  // the child's whole environment
    OutputMode output = OutputMode::Null;
    int outputFd = -1;  // File mode only; the caller keeps ownership
};

// How a child ended, in the terms of Foundation's Process: `status` is the
// exit code, or the signal number when `signaled`.
struct ExitStatus {
    int status = 0;
    bool signaled = false;
};

class Subprocess;

// The launcher's own environment, for children that inherit it (system tools
// that run outside Wine); Wine children get their own exact map instead.
[[nodiscard]] std::map<std::string, std::string> currentEnvironment();

struct SpawnResult {
    std::unique_ptr<Subprocess> process;  // set on success
    std::string error;                    // the platform's text on failure
};

// A started child process. One watcher thread per child is the only caller of
// waitpid for it. Destroying the handle neither kills nor waits for the child:
// the watcher thread lives on until the child exits.
class Subprocess {
public:
    // Called on the watcher thread once the child has been reaped (and, in
    // Pipe mode, its output collected).
    using ExitCallback = std::function<void(ExitStatus)>;

    [[nodiscard]] static SpawnResult start(const SubprocessSpec& child, ExitCallback onExit = {});

    // Runs a child to completion: start, wait, collect. Returns nullopt and
    // fills `error` when the child could not be started.
    struct RunResult {
        ExitStatus exit;
        std::string output;  // Pipe and PipeStdout modes only
    };
    [[nodiscard]] static std::optional<RunResult> run(const SubprocessSpec& child, std::string* error = nullptr);

    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    [[nodiscard]] pid_t pid() const;
    [[nodiscard]] bool isRunning() const;
    // Blocks until the child has exited (and its output is collected).
    ExitStatus wait();
    // Waits at most `seconds`; nullopt when the child is still running.
    std::optional<ExitStatus> waitFor(double seconds);
    // Everything collected in Pipe or PipeStdout mode; valid after wait().
    [[nodiscard]] std::string output() const;
    // SIGTERM, unless the child has already been reaped.
    void terminate();
    // Any signal, with the same guard against recycled pids.
    void sendSignal(int signal);

    struct State;

private:
    explicit Subprocess(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

}  // namespace platform
