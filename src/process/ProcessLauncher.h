#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Starts the Windows Steam client inside a prefix through Wine, captures its
// console output in the Steam output log, and reports the end of that process.
// At most one Steam process of its own runs at a time; launches are numbered so
// that the late exit of an old process is never taken for the end of a newer
// one. Also carries the process probes and the clean-up of everything Wine runs
// in the prefix.
//
// Threading: launchSteam, terminate, setOnExit and the accessors are called on
// the main thread, and onExit is delivered there through platform::MainQueue.
// The probes and killAll block for seconds and may run on any thread.
// Destroying the launcher drops a pending exit notice; it never ends the process.
class ProcessLauncher {
public:
    // Receives the exit code, or the signal number of a process killed by one.
    using ExitHandler = std::function<void(int32_t status)>;

    ProcessLauncher();
    ~ProcessLauncher();
    ProcessLauncher(const ProcessLauncher&) = delete;
    ProcessLauncher& operator=(const ProcessLauncher&) = delete;

    void setOnExit(ExitHandler handler);
    // The process of the current launch exists and has not ended yet.
    [[nodiscard]] bool isRunning() const;
    // Starts steam.exe under Wine in `prefixPath`. False while a process of this
    // launcher still runs (nothing changes then) or when the start failed.
    [[nodiscard]] bool launchSteam(const std::string& prefixPath);
    // SIGTERM to the current process, if any; its exit is reported as usual.
    void terminate();
    // Ends the prefix's Wine server, waits 2 s, then SIGKILLs every process whose
    // command line names steamwebhelper.exe, whichever installation it belongs to.
    void killAll();

    // Number of launches started so far.
    [[nodiscard]] int64_t launchGeneration() const;
    // Whether the current launch's process and log handle are still held; both
    // are released when that launch's exit has been handled.
    [[nodiscard]] bool hasGameProcess() const;
    [[nodiscard]] bool hasLogHandle() const;

    // A Wine server of our prefix is alive. Blocks 1 s when the server program exists.
    [[nodiscard]] static bool isOurWineserverRunning();
    // Our server is alive and some steamwebhelper.exe process exists.
    [[nodiscard]] static bool isSteamWebHelperRunning();
    // The readiness rule: our server is alive, then the web helper probe holds.
    [[nodiscard]] static bool isSteamReady();
    // Some process of this user has "steamwebhelper.exe" in its command line,
    // whether or not our server is alive.
    [[nodiscard]] static bool isAnySteamWebHelperRunning();

    // How long each probe and clean-up child (pgrep, pkill, wineserver -k, a
    // "-w" left behind) may run before it is ended with a warning: 10 s unless
    // a test sets it. Steam itself has no limit.
    static void setChildTimeLimit(std::chrono::milliseconds limit);

    // <support dir>/wine-steam-output.log, emptied at every launch.
    static const std::string& outputLogPath();

    struct State;

private:
    std::shared_ptr<State> state_;
};
