#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
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

// With Steam started from the main button, every way out ends the event loop through the
// application's quit path, and quitting ends Steam's Wine and its web helpers.
TEST_P(MenuBar, EveryWayOutQuitsAndEndsSteam) {
    uitest::Launcher launcher;
    testsupport::FakeWine wine;
    testsupport::writeFile(Constants::prefixPath() + Constants::steamExeUnix, "installed\n");
    AppDelegate& d = launcher.d();
    d.markEulaAccepted(), d.installAsApplicationDelegate(), launcher.buildWindow(), d.showSteamReady();
    QTest::mouseClick(d.mainButton, Qt::LeftButton);
    ASSERT_TRUE(uitest::pumpUntil(
        [&] { return launcher.status() == "Steam launching..." && ProcessLauncher::isAnySteamWebHelperRunning(); }));
    QApplication::setActiveWindow(d.window.get());
    QTimer::singleShot(0, [&d] { kWaysOut[GetParam()].second(d); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); });  // only to end a hang
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(wine.serverAlive() || ProcessLauncher::isAnySteamWebHelperRunning());
    uitest::pumpUntil([&] { return !d.processLauncher.hasGameProcess(); }, std::chrono::seconds(20));
}

INSTANTIATE_TEST_SUITE_P(MenuBar, MenuBar, ::testing::Range<size_t>(0, kWaysOut.size()),
                         [](const auto& info) { return kWaysOut[info.param].first; });
