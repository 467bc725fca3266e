#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <thread>

#include "UiSupport.h"
#include "support/FakeWine.h"
#include "support/RecordingSteamHost.h"
#include "support/TestHome.h"

using namespace std::chrono_literals;

namespace {

// Runs the event loop until `done` holds; false after `limit`.
bool pumpUntil(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    uitest::settle();
    return true;
}

}  // namespace

// The window's main button and the status poll drive the session through the
// controller, with the window painting throughout; quitting ends Steam.
TEST(SteamSessionWiringTest, TheMainButtonStartsAndClosesSteamAndQuittingEndsIt) {
    uitest::Launcher launcher;
    testsupport::FakeWine wine;
    testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
    AppDelegate& d = launcher.d();
    d.markEulaAccepted();
    launcher.buildWindow();
    launcher.d().showSteamReady();
    uitest::settle();
    d.processLauncher.setOnExit([&d](int32_t) { d.onSteamClosed(); });

    const auto status = [&] { return d.statusLabel->text().toStdString(); };
    QTest::mouseClick(d.mainButton, Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return status() == "Steam launching..."; }));
    EXPECT_EQ(d.mainButton->text().toStdString(), "Close Steam");
    ASSERT_TRUE(pumpUntil([] { return !testsupport::processesMatching("steamwebhelper.exe").empty(); }));

    for (int poll = 0; poll < 2; ++poll) {
        d.updateSteamStatus();
        ASSERT_TRUE(pumpUntil([&] { return !d.steamSession().isBusy(); }));
    }
    EXPECT_EQ(status(), "Steam is running.\nPlay Quillmoor from your Library.");

    QTest::mouseClick(d.mainButton, Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return !d.steamSession().isBusy() && !d.processLauncher.hasGameProcess(); }));
    EXPECT_EQ(status(), "Launch Quillmoor from\nyour Steam Library.");
    EXPECT_TRUE(uitest::logContains("] [INFO] User clicked Close Steam"));
    EXPECT_TRUE(uitest::logContains("] [INFO] Steam closed"));

    QTest::mouseClick(d.mainButton, Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return status() == "Steam launching..." && wine.serverAlive(); }));
    d.applicationWillTerminate();
    EXPECT_FALSE(wine.serverAlive());
    EXPECT_TRUE(testsupport::processesMatching("steamwebhelper.exe").empty());
    pumpUntil([&] { return !d.processLauncher.hasGameProcess(); }, 20s);
}
