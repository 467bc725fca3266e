#pragma once

// The processes and pauses the launcher must run on its way, as the anchors
// run them: each tool started directly with the launcher's arguments and
// environment, timed on its own; the functions return the sum in seconds.

#include <chrono>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "common/Constants.h"
#include "platform/Subprocess.h"
#include "runtime/RuntimeValidator.h"
#include "support/GraphicsBundle.h"

namespace launcherwork {

inline double timedRun(const platform::SubprocessSpec& child) {
    return benchutil::secondsOf([&] { (void)platform::Subprocess::run(child); });
}

// The checks that open every setup run: the processor, then the hashes of
// the bundle's graphics DLLs.
inline double systemChecks(const testsupport::GraphicsBundle& bundle) {
    double sum = timedRun({"/usr/bin/uname", {"-m"}, {}, platform::OutputMode::PipeStdout});
    for (const auto& artifact : bundle.manifest().artifacts)
        sum +=
            timedRun({"/usr/bin/shasum", {"-a", "256", bundle.fileOf(artifact)}, {}, platform::OutputMode::PipeStdout});
    return sum;
}

// `wine --version` as the runtime check runs it (PATH only, standard output only).
inline double runtimeCheck() {
    return timedRun({Constants::wineBin(), {"--version"}, benchutil::pathOnly(), platform::OutputMode::PipeStdout});
}

// A Wine command as the command runner runs it, in the prefix's environment.
inline double wineCommand(std::vector<std::string> arguments) {
    return timedRun({Constants::wineBin(), std::move(arguments),
                     Constants::buildSafeEnvironment(Constants::prefixPath()), platform::OutputMode::Pipe});
}

// `wineserver -w`: returns once the prefix's server has ended.
inline double serverWait() {
    return timedRun({Constants::wineserver(),
                     {"-w"},
                     Constants::buildSafeEnvironment(Constants::prefixPath()),
                     platform::OutputMode::Null});
}

// The hashes of the DLLs deployed in the prefix.
inline double deployedChecks(const testsupport::GraphicsBundle& bundle) {
    double sum = 0;
    for (const auto& artifact : bundle.manifest().artifacts) {
        sum += timedRun({"/usr/bin/shasum",
                         {"-a", "256", RuntimeValidator::deployedPath(Constants::prefixPath(), artifact)},
                         {},
                         platform::OutputMode::PipeStdout});
    }
    return sum;
}

// The Wine probe with nothing running: the server probe's fixed pause (its
// `wineserver -w` returns at once), then the web-helper search.
inline double wineProbe() {
    return serverWait() + 1.0 +
           timedRun({"/usr/bin/pgrep",
                     {"-f", "steamwebhelper.exe"},
                     platform::currentEnvironment(),
                     platform::OutputMode::Null});
}

// A return start with everything installed and nothing running: the system
// checks, the runtime's two version checks, the deployed DLLs' hashes, the
// Wine probe.
inline double returnStart(const testsupport::GraphicsBundle& bundle) {
    return systemChecks(bundle) + runtimeCheck() + wineCommand({"--version"}) + deployedChecks(bundle) + wineProbe();
}

}  // namespace launcherwork
