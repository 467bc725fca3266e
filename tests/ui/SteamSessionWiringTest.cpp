#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include "support/FakeWine.h"
#include "support/RecordingSteamHost.h"
#include "ui/UiSupport.h"

using uitest::pumpUntil;

// The main button and the status poll drive the session through the
// controller, with the window painting throughout; quitting ends Steam.
TEST(SteamSessionWiringTest, TheMainButtonStartsAndClosesSteamAndQuittingEndsIt) {
    uitest::Launcher launcher;
    testsupport::FakeWine wine;
    testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
    AppDelegate& d = launcher.d();
    d.markEulaAccepted();
    launcher.buildWindow();
    d.showSteamReady();
    d.processLauncher.setOnExit([&d](int32_t) { d.onSteamClosed(); });
    const auto helperAlive = [] { return !testsupport::processesMatching("steamwebhelper.exe").empty(); };

    QTest::mouseClick(d.mainButton, Qt::LeftButton);
    ASSERT_TRUE(
        pumpUntil([&] { return launcher.status() == "Steam launching..." && helperAlive(); }, std::chrono::seconds(20)))
        << launcher.status() << helperAlive();
    EXPECT_EQ(d.mainButton->text(), "Close Steam");
    for (int poll = 0; poll < 2; ++poll) {
        d.updateSteamStatus();
        ASSERT_TRUE(pumpUntil([&] { return !d.steamSession().isBusy(); }));
    }
    EXPECT_EQ(launcher.status(), "Steam is running.\nPlay Quillmoor from your Library.");

    QTest::mouseClick(d.mainButton, Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return !d.steamSession().isBusy() && !d.processLauncher.hasGameProcess(); }));
    EXPECT_EQ(launcher.status(), "Launch Quillmoor from\nyour Steam Library.");
    EXPECT_TRUE(uitest::inOrder(uitest::logLines(), {"INFO User clicked Close Steam", "INFO Steam closed"}));

    QTest::mouseClick(d.mainButton, Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return launcher.status() == "Steam launching..." && wine.serverAlive(); }));
    d.applicationWillTerminate();
    EXPECT_FALSE(wine.serverAlive() || helperAlive());
    pumpUntil([&] { return !d.processLauncher.hasGameProcess(); }, std::chrono::seconds(20));
}
