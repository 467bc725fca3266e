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

// The bar holds only Quit and File > Close Window, and every way out ends the
// event loop through the application's quit path.
TEST_P(MenuBar, HoldsQuitAndCloseWindowAndEveryWayOutQuits) {
    uitest::Launcher launcher;
    launcher.delegate->installAsApplicationDelegate();
    launcher.launch();
    AppDelegate& d = launcher.d();
    const auto top = d.menuBar()->actions();
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[0]->text() + "|" + top[1]->text(), "|File");
    EXPECT_EQ(top[0]->menu()->actions().size() + top[1]->menu()->actions().size(), 2);
    EXPECT_EQ(itemOf(d, 0)->text() + "|" + itemOf(d, 1)->text(), "Quit Ferrowick|Close Window");
    EXPECT_EQ(itemOf(d, 0)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(itemOf(d, 1)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_W));
    EXPECT_EQ(itemOf(d, 0)->menuRole(), QAction::QuitRole);

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
