#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SystemInfo.h"

// The launcher's own log: one line per event, emptied at every start, written
// synchronously (open, append, close) so each line is on disk when the call
// returns. Any thread may log; a lock keeps lines whole and unmerged.
class Logger {
public:
    static Logger& shared();
    static const std::string& logPath();

    void log(const std::string& message, const std::string& level = "INFO");
    void info(const std::string& message) { log(message, "INFO"); }
    void warn(const std::string& message) { log(message, "WARN"); }
    void error(const std::string& message) { log(message, "ERROR"); }
    void perf(const std::string& message) { log(message, "PERF"); }

    // Six INFO lines: OS version, cores, memory, support dir, prefix, Wine.
    void logSystemInfo();
    // Whether the prefix and Steam are there, and the size of each deployed
    // graphics DLL (WARN when one is missing). Reads Constants::prefixPath().
    void logPrefixState();
    // One INFO line per value of the DllOverrides key in the prefix's user.reg;
    // nothing when the file cannot be read as text.
    void logWineRegistryOverrides();

    // "[HH:mm:ss.SSS] [LEVEL] message\n" for the given local time of day.
    static std::string formatLine(int hour, int minute, int second, int millisecond, const std::string& level,
                                  const std::string& message);
    static std::vector<std::string> systemReportLines(const platform::OSVersion& os, int64_t cores,
                                                      uint64_t memoryBytes, const std::string& supportDir,
                                                      const std::string& prefixPath, const std::string& wineBin);
    // The override lines ("  Override: " + trimmed value line) of a user.reg
    // text, in file order. CRLF and LF line ends read alike.
    static std::vector<std::string> registryOverrideLines(const std::string& userReg);

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger();
    std::mutex appendMutex_;
};
