#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include "support/FakeWine.h"
#include "ui/UiSupport.h"

namespace {

QAction* itemOf(AppDelegate& d, int menu) {
    return d.menuBar()->actions().at(menu)->menu()->actions().at(0);
}

const std::vector<std::pair<std::string, std::function<void(AppDelegate&)>>> kWaysOut = {
    {"quit_item", [](AppDelegate& d) { itemOf(d, 0)->trigger(); }},
    {"close_window_item", [](AppDelegate& d) { itemOf(d, 1)->trigger(); }},
    {"close_button", [](AppDelegate& d) { d.window->close(); }},
    {"quit_shortcut",
     [](AppDelegate& d) { QTest::keyClick(d.window->windowHandle(), Qt::Key_Q, Qt::ControlModifier); }},
    {"close_shortcut",
     [](AppDelegate& d) { QTest::keyClick(d.window->windowHandle(), Qt::Key_W, Qt::ControlModifier); }},
};

class MenuBar : public ::testing::TestWithParam<size_t> {};

}  // namespace

// Every way out ends the event loop through the application's quit path.
TEST_P(MenuBar, EveryWayOutQuits) {
    uitest::Launcher launcher;
    launcher.delegate->installAsApplicationDelegate();
    launcher.launch();
    AppDelegate& d = launcher.d();
    QApplication::setActiveWindow(d.window.get());
    bool aboutToQuit = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { aboutToQuit = true; });
    QTimer::singleShot(0, [&d] { kWaysOut[GetParam()].second(d); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); });  // only to end a hang
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(aboutToQuit);
}

INSTANTIATE_TEST_SUITE_P(MenuBar, MenuBar, ::testing::Range<size_t>(0, kWaysOut.size()),
                         [](const auto& info) { return kWaysOut[info.param].first; });

// The main button starts Steam through the controller and the status poll
// follows it; quitting ends Steam's Wine and its web helpers.
TEST(MenuBar, TheMainButtonStartsSteamAndQuittingEndsIt) {
    uitest::Launcher launcher;
    testsupport::FakeWine wine;
    testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
    AppDelegate& d = launcher.d();
    d.markEulaAccepted();
    d.installAsApplicationDelegate();
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
    QTimer::singleShot(0, [&d] { itemOf(d, 0)->trigger(); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); });  // only to end a hang
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(wine.serverAlive() || ProcessLauncher::isAnySteamWebHelperRunning());
    uitest::pumpUntil([&] { return !d.processLauncher.hasGameProcess(); }, std::chrono::seconds(20));
}
