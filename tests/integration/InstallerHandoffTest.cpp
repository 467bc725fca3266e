// The dropped installer's hand-off: the copy beside the launcher's data, and
// the run under the fake Wine runtime with its watch for Steam.
#include <gtest/gtest.h>

#include <filesystem>

#include "controller/InstallerHandoff.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

// What is run, and where: the log lines and screens of each ending are in the journeys' golden logs.
TEST(InstallerHandoffTest, RunsTheCopyOrWhatCannotBeCopiedWhereItLies) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    const std::string copy = Constants::supportDir() + "/SteamSetup.exe", folder = home.home() + "/Setup.exe";
    const std::string odd = home.home() + "/Down loads/$(touch x); `id` 'a' \"b\" & c.exe";
    fs::create_directories(folder);
    writeFile(odd, "installer");
    const std::tuple<const char*, std::string, std::string, std::string> cases[] = {
        // name, dropped, run, last event
        {"odd name", odd, copy, "ready"},
        {"the launcher's own copy, which must not be deleted first", copy, copy, "ready"},
        {"a folder, which cannot be copied", folder, folder, "step1"},
    };
    for (const auto& [name, dropped, run, last] : cases) {
        SCOPED_TRACE(name);
        wine.set("run.steam", last == "ready" ? "1" : "0");
        fs::remove_all(Constants::prefixPath());
        std::string ended;
        InstallerHandoff::Hooks h;
        h.log = [](const std::string&, const std::string&) {};
        h.showLoading = h.showError = h.setStatusText = [](const std::string&) {};
        h.showSteamReady = [&] { ended = "ready"; };
        h.showStep1 = [&] { ended = "step1"; };
        h.steamInstalled = [] { return fs::exists(Constants::prefixPath() + Constants::steamExeUnix); };
        const InstallerHandoff::Settings settings{Constants::supportDir(), Constants::wineBin(),
                                                  Constants::prefixPath(), std::chrono::milliseconds(100)};
        LauncherActivity activity;
        EXPECT_TRUE(
            InstallerHandoff::handleDroppedInstaller(dropped, settings, h, activity, [](auto work) { work(); }));
        EXPECT_EQ(ended, last);
        const auto calls = wine.calls("wine");
        EXPECT_EQ(calls.back().args, Lines{run});
        EXPECT_EQ(calls.back().env, testsupport::wineChildEnvironment(Constants::prefixPath()));
        EXPECT_TRUE(run != copy || readFile(copy) == "installer");
    }
    EXPECT_FALSE(fs::exists(home.home() + "/Down loads/x") || fs::exists("x"));
}
