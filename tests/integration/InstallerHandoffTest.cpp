// The dropped installer's hand-off under the fake Wine runtime: what is run, and where (the log lines and
// screens of each ending are in the journeys' golden logs).
#include <gtest/gtest.h>

#include <filesystem>

#include "common/Constants.h"
#include "controller/InstallerHandoff.h"
#include "support/FakeWine.h"
#include "support/RecordingFrontEnd.h"
#include "support/TestHome.h"

namespace fs = std::filesystem;

TEST(InstallerHandoffTest, RunsTheCopyOrWhatCannotBeCopiedWhereItLies) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    const std::string copy = home.supportDir() + "/SteamSetup.exe", folder = home.home() + "/Setup.exe";
    const std::string odd = home.home() + "/Down loads/$(touch x); `id` 'a' \"b\" & c.exe";
    fs::create_directories(folder);
    testsupport::writeFile(odd, "installer");
    const std::string installing = "loading:Installing Steam...\nComplete the setup in the Steam window.|";
    const std::string ready = installing + "ready|",
                      notDetected =
                          installing + "step1|status:Steam was not detected after installation.\nPlease try again.|";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {odd, copy, ready},   // shell characters are one literal argument
        {copy, copy, ready},  // the launcher's own copy, which must not be deleted first
        {folder, folder, notDetected},
    };
    for (const auto& [dropped, run, screens] : cases) {
        SCOPED_TRACE(dropped);
        wine.set("run.steam", screens == ready ? "1" : "0");
        fs::remove_all(Constants::prefixPath());
        testsupport::RecordingFrontEnd frontEnd;
        LauncherActivity activity;
        const InstallerHandoff::Settings settings{
            Constants::supportDir(), Constants::wineBin(), Constants::prefixPath(), std::chrono::milliseconds(100),
            [] { return fs::exists(Constants::prefixPath() + Constants::steamExeUnix); }};
        EXPECT_TRUE(
            InstallerHandoff::handleDroppedInstaller(dropped, settings, frontEnd, activity, [](auto work) { work(); }));
        EXPECT_EQ(frontEnd.joined(), screens);
        EXPECT_EQ(wine.calls("wine").back().args, std::vector<std::string>{run});
        EXPECT_EQ(wine.calls("wine").back().env, testsupport::wineChildEnvironment(Constants::prefixPath()));
        EXPECT_TRUE(run != copy || testsupport::readFile(copy) == "installer");
    }
    EXPECT_FALSE(fs::exists(home.home() + "/Down loads/x") || fs::exists("x"));
}
