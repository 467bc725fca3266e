// The dropped installer's hand-off: the copy beside the launcher's data, and
// the run under the fake Wine runtime with its watch for Steam.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/Constants.h"
#include "controller/InstallerHandoff.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

TEST(InstallerHandoffTest, RunAndWatchEndsOnSteamOrTheInstallersEnd) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    const std::string copy = Constants::supportDir() + "/SteamSetup.exe", folder = home.home() + "/Setup.exe";
    const std::string odd = home.home() + "/Down loads/$(touch x); `id` 'a' \"b\" & c.exe";
    fs::create_directories(folder);
    writeFile(odd, "installer");
    using namespace InstallerHandoff;
    struct Case {
        const char* name;
        std::map<std::string, std::string> control;
        std::string dropped, run;  // the path handed to Wine
        Lines screens;
    };
    const Case cases[] = {
        {"running", {{"run.steam", "1"}, {"run.sleep", "20"}}, odd, copy, {"INFO Steam detected", "screen steamReady"}},
        // Dropping the launcher's own copy must not delete the file to be run.
        {"installed and closed", {{"run.steam", "1"}}, copy, copy, {"screen steamReady"}},
        // A folder cannot be copied and is run where it lies.
        {"cancelled",
         {},
         folder,
         folder,
         {"screen step1", "status Steam was not detected after installation.\nPlease try again."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Constants::prefixPath());
        wine.configure(c.control);
        std::mutex mutex;
        Lines events;
        const auto add = [&](const std::string& e) {
            std::lock_guard lock(mutex);
            events.push_back(e);
        };
        Hooks h;
        h.log = [&](const std::string& level, const std::string& m) { add(level + " " + m); };
        h.showLoading = [&](const std::string& m) { add("screen loading " + m); };
        h.showSteamReady = [&] { add("screen steamReady"); };
        h.showStep1 = [&] { add("screen step1"); };
        h.showError = [&](const std::string& m) { add("screen error " + m); };
        h.setStatusText = [&](const std::string& m) { add("status " + m); };
        h.steamInstalled = [] { return fs::exists(Constants::prefixPath() + Constants::steamExeUnix); };
        const Settings settings{Constants::supportDir(), Constants::wineBin(), Constants::prefixPath(),
                                std::chrono::milliseconds(100)};
        const size_t callsBefore = wine.calls("wine").size();
        // The work runs at once here instead of on a background thread.
        handleDroppedInstaller(c.dropped, settings, h, [](auto work) { work(); });

        // Steam seen while the installer runs is logged too; whether the watch sees
        // it before a quick installer's end is a matter of timing.
        Lines expected = {"INFO User dropped installer: " + c.dropped,
                          "screen loading Installing Steam...\nComplete the setup in the Steam window."};
        expected.insert(expected.end(), c.screens.begin(), c.screens.end());
        if (c.screens.front() != "INFO Steam detected") std::erase(events, "INFO Steam detected");
        EXPECT_EQ(events, expected);
        const auto calls = wine.calls("wine");
        ASSERT_EQ(calls.size(), callsBefore + 1);
        EXPECT_EQ(calls.back().args, Lines{c.run});
        EXPECT_EQ(calls.back().env, testsupport::wineChildEnvironment(Constants::prefixPath()));
        EXPECT_TRUE(c.run != copy || readFile(copy) == "installer");
    }
    EXPECT_EQ(wine.livePids().size(), 1u) << "the installer is left running, not waited for";
}
