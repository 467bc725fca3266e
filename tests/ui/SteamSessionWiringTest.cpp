#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include "support/FakeWine.h"
#include "ui/UiSupport.h"

// The main button starts Steam through the controller and the status poll
// follows it; quitting ends Steam's Wine and its web helpers.
TEST(SteamSessionWiringTest, TheMainButtonStartsSteamAndQuittingEndsIt) {
    uitest::Launcher launcher;
    testsupport::FakeWine wine;
    testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
    AppDelegate& d = launcher.d();
    d.markEulaAccepted();
    launcher.buildWindow();
    d.showSteamReady();

    QTest::mouseClick(d.mainButton, Qt::LeftButton);
    ASSERT_TRUE(uitest::pumpUntil(
        [&] { return launcher.status() == "Steam launching..." && ProcessLauncher::isAnySteamWebHelperRunning(); }));
    EXPECT_EQ(d.mainButton->text(), "Close Steam");
    for (int poll = 0; poll < 2; ++poll) {
        d.updateSteamStatus();
        ASSERT_TRUE(uitest::pumpUntil([&] { return !d.steamSession().isBusy(); }));
    }
    EXPECT_EQ(launcher.status(), "Steam is running.\nPlay Quillmoor from your Library.");
    d.applicationWillTerminate();
    EXPECT_FALSE(wine.serverAlive() || ProcessLauncher::isAnySteamWebHelperRunning());
    uitest::pumpUntil([&] { return !d.processLauncher.hasGameProcess(); }, std::chrono::seconds(20));
}
