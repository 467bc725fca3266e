// The dropped installer's hand-off: the copy beside the launcher's data, and
// the run under the fake Wine runtime with its watch for Steam.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <mutex>
#include <sstream>

#include "platform/Subprocess.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/Constants.h"
#include "wine/InstallerHandoff.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TestHome;
using testsupport::writeFile;

TEST(InstallerHandoffTest, DroppedFilesAreCopiedOrRunWhereTheyLie) {
    struct Case {
        const char* name;
        std::string dropped;  // below a downloads folder; empty: the launcher's own copy
        bool isFolder;
        bool earlierCopy;
    };
    const Case cases[] = {
        {"first drop, no data folder yet", "SteamSetup.exe", false, false},
        {"a second drop replaces the copy", "My $HOME; rm -rf `x` 'Steam' \"(1)\" & | * ?.exe", false, true},
        {"folder named like an installer", "Setup.exe", true, true},
        {"the launcher's own copy", "", false, true},
    };
    TestHome home;
    int n = 0;
    for (const Case& c : cases) {
        const std::string base = home.home() + "/case " + std::to_string(++n);
        const std::string copy = base + "/Ferrowick" + InstallerHandoff::kCopyName;
        if (c.earlierCopy) writeFile(copy, "installer from an earlier drop");
        const std::string dropped = c.dropped.empty() ? copy : base + "/Downloads/" + c.dropped;
        if (c.isFolder) fs::create_directories(dropped);
        if (!c.isFolder && !c.dropped.empty()) writeFile(dropped, "installer bytes");
        const std::string bytes = readFile(dropped);

        EXPECT_EQ(InstallerHandoff::prepareInstaller(dropped, base + "/Ferrowick"), c.isFolder ? dropped : copy)
            << c.name;
        // A folder cannot be copied; the copy of an earlier drop is gone rather than run in its place.
        EXPECT_EQ(fs::exists(copy), !c.isFolder) << c.name;
        EXPECT_EQ(c.isFolder ? bytes : readFile(copy), bytes) << c.name;
        EXPECT_EQ(readFile(dropped), bytes) << c.name << ": the dropped file is left alone";
    }
}

TEST(InstallerHandoffTest, RunAndWatchEndsOnSteamOrTheInstallersEnd) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> control;
        bool isFolder;  // cannot be copied: the dropped path itself goes to Wine
        bool wineMissing;
        std::vector<std::string> screens;
    };
    const Case cases[] = {
        {"Steam appears while the installer keeps running",
         {{"run.steam", "1"}, {"run.sleep", "20"}},
         false,
         false,
         {"INFO Steam detected", "screen steamReady"}},
        {"cancelled", {}, true, false, {"screen step1", std::string("status ") + InstallerHandoff::kNotDetected}},
        {"installed and closed", {{"run.steam", "1"}}, true, false, {"screen steamReady"}},
        {"Wine cannot start", {}, false, true, {std::string("screen error ") + InstallerHandoff::kCouldNotRun}},
    };
    TestHome home;
    testsupport::FakeWine wine;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Constants::prefixPath());
        wine.configure(c.control);
        const std::string dropped = home.home() + "/Down loads/$(touch x); `id` 'a' \"b\" & c.exe";
        fs::remove_all(dropped);
        if (c.isFolder) fs::create_directories(dropped);
        if (!c.isFolder) writeFile(dropped, "installer");

        std::mutex mutex;
        std::vector<std::string> events;
        const auto add = [&](const std::string& e) {
            std::lock_guard lock(mutex);
            events.push_back(e);
        };
        InstallerHandoff::Hooks h;
        h.log = [&](const std::string& level, const std::string& m) { add(level + " " + m); };
        h.showLoading = [&](const std::string& m) { add("screen loading " + m); };
        h.showSteamReady = [&] { add("screen steamReady"); };
        h.showStep1 = [&] { add("screen step1"); };
        h.showError = [&](const std::string& m) { add("screen error " + m); };
        h.setStatusText = [&](const std::string& m) { add("status " + m); };
        h.steamInstalled = [] { return fs::exists(Constants::prefixPath() + Constants::steamExeUnix); };
        const InstallerHandoff::Settings settings{Constants::supportDir(),
                                                  c.wineMissing ? home.root() + "/no/wine" : Constants::wineBin(),
                                                  Constants::prefixPath(), std::chrono::milliseconds(100)};
        const size_t callsBefore = wine.calls("wine").size();
        const auto start = std::chrono::steady_clock::now();
        // The work runs at once here instead of on a background thread.
        InstallerHandoff::handleDroppedInstaller(dropped, settings, h, [](auto work) { work(); });
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15)) << "waited for the installer";

        // Steam seen during the watch is also logged; after the installer's end it is not.
        std::vector<std::string> expected = {"INFO User dropped installer: " + dropped,
                                             std::string("screen loading ") + InstallerHandoff::kInstalling};
        expected.insert(expected.end(), c.screens.begin(), c.screens.end());
        if (c.isFolder) std::erase(events, "INFO Steam detected");
        EXPECT_EQ(events, expected);
        const auto calls = wine.calls("wine");
        ASSERT_EQ(calls.size(), callsBefore + !c.wineMissing);
        if (c.wineMissing) continue;
        EXPECT_EQ(calls.back().args,
                  std::vector<std::string>{c.isFolder ? dropped : settings.supportDir + "/SteamSetup.exe"});
        EXPECT_EQ(calls.back().env, Constants::buildSafeEnvironment(Constants::prefixPath()));
    }
    // The installer that kept running, found by its copy's path.
    const auto pgrep = platform::Subprocess::run(
        {"/usr/bin/pgrep", {"-f", "--", home.root() + "/.*/SteamSetup\\.exe"}, {}, platform::OutputMode::Pipe});
    std::istringstream pids(pgrep ? pgrep->output : "");
    int count = 0;
    for (int pid; pids >> pid; ++count) ::kill(pid, SIGKILL);
    EXPECT_EQ(count, 1) << "the installer is left running";
}
