#include <gmock/gmock.h>
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

namespace {

TEST(InstallerCopyTest, DroppedFilesAreCopiedOrRunWhereTheyLie) {
    struct Case {
        const char* name;
        std::string droppedName;  // relative to a downloads folder; empty: the copy itself
        bool droppedIsDirectory;
        bool runsCopy;
    };
    const std::vector<Case> cases = {
        {"plain installer", "SteamSetup.exe", false, true},
        {"blanks and shell characters", "My $HOME; rm -rf `x` 'Steam' \"(1)\" & | * ?.exe", false, true},
        {"folder named like an installer", "Setup.exe", true, false},
        {"the launcher's own copy", "", false, true},
    };
    TestHome home;
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string base = home.home() + "/case " + std::to_string(++index);
        const std::string support = base + "/Ferrowick";
        const std::string copy = support + InstallerHandoff::kCopyName;
        writeFile(copy, "installer from an earlier drop");

        std::string dropped = copy;
        if (!c.droppedName.empty()) {
            dropped = base + "/Downloads/" + c.droppedName;
            if (c.droppedIsDirectory) {
                fs::create_directories(dropped);
            } else {
                writeFile(dropped, "installer bytes");
            }
        }
        const std::string expectedBytes = c.droppedName.empty() ? "installer from an earlier drop" : "installer bytes";

        const std::string toRun = InstallerHandoff::prepareInstaller(dropped, support);

        EXPECT_EQ(toRun, c.runsCopy ? copy : dropped);
        if (c.runsCopy) {
            EXPECT_EQ(readFile(copy), expectedBytes);
        } else {
            // The copy of an earlier drop is gone rather than run in place of this one.
            EXPECT_FALSE(fs::exists(copy));
        }
        if (!c.droppedIsDirectory) {
            EXPECT_EQ(readFile(dropped), expectedBytes) << "the dropped file is left alone";
        }
    }
}

TEST(InstallerCopyTest, SecondDropReplacesTheCopy) {
    TestHome home;
    const std::string support = home.supportDir();
    writeFile(home.home() + "/a/SteamSetup.exe", "first");
    writeFile(home.home() + "/b/SteamSetup (1).exe", "second, a longer installer");
    ASSERT_EQ(InstallerHandoff::prepareInstaller(home.home() + "/a/SteamSetup.exe", support),
              support + "/SteamSetup.exe");
    ASSERT_EQ(InstallerHandoff::prepareInstaller(home.home() + "/b/SteamSetup (1).exe", support),
              support + "/SteamSetup.exe");
    EXPECT_EQ(readFile(support + "/SteamSetup.exe"), "second, a longer installer");
}

TEST(InstallerCopyTest, MissingSupportDirectoryIsCreated) {
    TestHome home;
    writeFile(home.home() + "/SteamSetup.exe", "bytes");
    ASSERT_FALSE(fs::exists(home.supportDir()));
    EXPECT_EQ(InstallerHandoff::prepareInstaller(home.home() + "/SteamSetup.exe", home.supportDir()),
              home.supportDir() + "/SteamSetup.exe");
    EXPECT_EQ(readFile(home.supportDir() + "/SteamSetup.exe"), "bytes");
}

}  // namespace

namespace {

using testsupport::FakeWine;

// What the hand-off reported, in order, as "screen ..." and "LEVEL message".
struct HandoffRecorder {
    std::mutex mutex;
    std::vector<std::string> events;
    std::string prefix;

    void add(const std::string& e) {
        std::lock_guard lock(mutex);
        events.push_back(e);
    }
    InstallerHandoff::Hooks hooks() {
        InstallerHandoff::Hooks h;
        h.log = [this](const std::string& level, const std::string& m) { add(level + " " + m); };
        h.showLoading = [this](const std::string& m) { add("screen loading " + m); };
        h.showSteamReady = [this] { add("screen steamReady"); };
        h.showStep1 = [this] { add("screen step1"); };
        h.showError = [this](const std::string& m) { add("screen error " + m); };
        h.setStatusText = [this](const std::string& m) { add("status " + m); };
        h.steamInstalled = [this] { return fs::exists(prefix + Constants::steamExeUnix); };
        return h;
    }
};

InstallerHandoff::Settings liveSettings() {
    return {Constants::supportDir(), Constants::wineBin(), Constants::prefixPath()};
}

// Pids of live processes whose command line matches `pattern`, found with
// pgrep. Its environment is empty, so the pattern must be plain ASCII.
std::vector<int> processesMatching(const std::string& pattern) {
    platform::SubprocessSpec child{"/usr/bin/pgrep", {"-f", "--", pattern}, {}, platform::OutputMode::Pipe};
    auto r = platform::Subprocess::run(child);
    std::vector<int> pids;
    std::istringstream in(r ? r->output : "");
    for (int pid; in >> pid;) pids.push_back(pid);
    return pids;
}

TEST(InstallerHandoffTest, SteamDetectedWhileTheInstallerKeepsRunning) {
    TestHome home;
    FakeWine wine;
    wine.set("run.steam", 1);
    wine.set("run.sleep", 20);
    HandoffRecorder recorder;
    recorder.prefix = Constants::prefixPath();
    const std::string dropped = home.home() + "/Downloads/SteamSetup.exe";
    writeFile(dropped, "installer");

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InstallerHandoff::runAndWatch(dropped, liveSettings(), recorder.hooks()),
              InstallerHandoff::Result::steamDetected);
    // One poll interval is about 3 s; the bound only catches a watch that waited for the installer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_THAT(recorder.events, testing::ElementsAre("INFO Steam detected", "screen steamReady"));

    const std::string copy = Constants::supportDir() + "/SteamSetup.exe";
    const auto alive = processesMatching(home.root() + "/.*/SteamSetup\\.exe");
    EXPECT_EQ(alive.size(), 1u) << "the installer is left running";
    for (int pid : alive) ::kill(pid, SIGKILL);

    const auto calls = wine.calls("wine");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, std::vector<std::string>{copy});
    EXPECT_EQ(calls[0].env, Constants::buildSafeEnvironment(Constants::prefixPath()));
}

TEST(InstallerHandoffTest, InstallerThatEndsIsJudgedBySteamsPresence) {
    struct Case {
        const char* name;
        bool createsSteam;
        std::vector<std::string> events;
    };
    const std::vector<Case> cases = {
        {"cancelled", false, {"screen step1", std::string("status ") + InstallerHandoff::kNotDetected}},
        {"installed and closed", true, {"screen steamReady"}},
    };
    TestHome home;
    FakeWine wine;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Constants::prefixPath());
        wine.set("run.steam", c.createsSteam ? 1 : 0);
        wine.set("run.sleep", "0.3");
        HandoffRecorder recorder;
        recorder.prefix = Constants::prefixPath();
        // A folder named like an installer cannot be copied, so the dropped
        // path itself, blanks and shell characters included, goes to Wine.
        const std::string dropped = home.home() + "/Down loads/$(touch x); `id` 'a' \"b\" & c.exe";
        fs::create_directories(dropped);

        const auto result = InstallerHandoff::runAndWatch(dropped, liveSettings(), recorder.hooks());
        EXPECT_EQ(result,
                  c.createsSteam ? InstallerHandoff::Result::steamDetected : InstallerHandoff::Result::notDetected);
        // Detected during the watch, Steam is also logged; after the end it is not.
        std::vector<std::string> screens;
        for (const auto& e : recorder.events) {
            if (e.rfind("INFO ", 0) != 0) screens.push_back(e);
        }
        EXPECT_EQ(screens, c.events);
        EXPECT_EQ(wine.calls("wine").back().args, std::vector<std::string>{dropped});
    }
    EXPECT_FALSE(fs::exists(home.home() + "/Down loads/x")) << "nothing was run through a shell";
}

TEST(InstallerHandoffTest, InstallerThatCannotStartShowsTheError) {
    TestHome home;
    HandoffRecorder recorder;
    recorder.prefix = Constants::prefixPath();
    writeFile(home.home() + "/SteamSetup.exe", "installer");
    auto settings = liveSettings();  // no Wine runtime installed
    EXPECT_EQ(InstallerHandoff::runAndWatch(home.home() + "/SteamSetup.exe", settings, recorder.hooks()),
              InstallerHandoff::Result::couldNotStart);
    EXPECT_THAT(recorder.events, testing::ElementsAre(std::string("screen error ") + InstallerHandoff::kCouldNotRun));
}

TEST(InstallerHandoffTest, DropIsLoggedAndShownBeforeTheWorkIsHandedOff) {
    TestHome home;
    HandoffRecorder recorder;
    std::vector<std::function<void()>> handedOff;
    InstallerHandoff::handleDroppedInstaller("/Users/me/Down loads/Steam Setup (1).exe", liveSettings(),
                                             recorder.hooks(),
                                             [&](std::function<void()> work) { handedOff.push_back(work); });
    EXPECT_THAT(recorder.events,
                testing::ElementsAre("INFO User dropped installer: /Users/me/Down loads/Steam Setup (1).exe",
                                     std::string("screen loading ") + InstallerHandoff::kInstalling));
    EXPECT_EQ(handedOff.size(), 1u);
}

}  // namespace
