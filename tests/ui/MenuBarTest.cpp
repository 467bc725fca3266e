#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QtTest/QTest>

#include "ui/UiSupport.h"

namespace {

QAction* itemOf(AppDelegate& d, int menu) {
    return d.menuBar()->actions().at(menu)->menu()->actions().at(0);
}

void press(AppDelegate& d, Qt::Key key) {
    QTest::keyClick(d.window->windowHandle(), key, Qt::ControlModifier);  // the platform's key path
}

const std::vector<std::pair<std::string, std::function<void(AppDelegate&)>>> kWaysOut = {
    {"quit_item", [](AppDelegate& d) { itemOf(d, 0)->trigger(); }},
    {"close_window_item", [](AppDelegate& d) { itemOf(d, 1)->trigger(); }},
    {"close_button", [](AppDelegate& d) { d.window->close(); }},
    {"quit_shortcut", [](AppDelegate& d) { press(d, Qt::Key_Q); }},
    {"close_shortcut", [](AppDelegate& d) { press(d, Qt::Key_W); }},
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
