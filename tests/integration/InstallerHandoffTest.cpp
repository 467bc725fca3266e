// The dropped installer's hand-off under the fake Wine runtime: what is run, and where (the log lines and
// screens of each ending are in the journeys' golden logs).
#include <gtest/gtest.h>

#include <filesystem>

#include "common/Constants.h"
#include "controller/InstallerHandoff.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"

namespace fs = std::filesystem;

TEST(InstallerHandoffTest, RunsTheCopyOrWhatCannotBeCopiedWhereItLies) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    const std::string copy = home.supportDir() + "/SteamSetup.exe", folder = home.home() + "/Setup.exe";
    const std::string odd = home.home() + "/Down loads/$(touch x); `id` 'a' \"b\" & c.exe";
    fs::create_directories(folder);
    testsupport::writeFile(odd, "installer");
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {odd, copy, "ready"},   // shell characters are one literal argument
        {copy, copy, "ready"},  // the launcher's own copy, which must not be deleted first
        {folder, folder, "step1"},
    };
    for (const auto& [dropped, run, last] : cases) {
        SCOPED_TRACE(dropped);
        wine.set("run.steam", last == "ready" ? "1" : "0");
        fs::remove_all(Constants::prefixPath());
        std::string ended;
        const auto ignore = [](const std::string&) {};
        const InstallerHandoff::Hooks h{[](auto&, auto&) {},
                                        ignore,
                                        [&] { ended = "ready"; },
                                        [&] { ended = "step1"; },
                                        ignore,
                                        ignore,
                                        [] { return fs::exists(Constants::prefixPath() + Constants::steamExeUnix); }};
        LauncherActivity activity;
        EXPECT_TRUE(InstallerHandoff::handleDroppedInstaller(
            dropped,
            {Constants::supportDir(), Constants::wineBin(), Constants::prefixPath(), std::chrono::milliseconds(100)}, h,
            activity, [](auto work) { work(); }));
        EXPECT_EQ(ended, last);
        EXPECT_EQ(wine.calls("wine").back().args, std::vector<std::string>{run});
        EXPECT_EQ(wine.calls("wine").back().env, testsupport::wineChildEnvironment(Constants::prefixPath()));
        EXPECT_TRUE(run != copy || testsupport::readFile(copy) == "installer");
    }
    EXPECT_FALSE(fs::exists(home.home() + "/Down loads/x") || fs::exists("x"));
}
