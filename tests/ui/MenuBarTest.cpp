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

}  // namespace

TEST(MenuBar, HoldsOnlyQuitAndFileCloseWindow) {
    uitest::Launcher launcher;
    launcher.buildWindow();
    const auto top = launcher.d().menuBar()->actions();
    ASSERT_EQ(top.size(), 2);
    EXPECT_TRUE(top[0]->text().isEmpty());
    EXPECT_EQ(top[1]->text(), "File");
    for (int menu : {0, 1}) EXPECT_EQ(top[menu]->menu()->actions().size(), 1);
    EXPECT_EQ(itemOf(launcher.d(), 0)->text(), "Quit Ferrowick");
    EXPECT_EQ(itemOf(launcher.d(), 0)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(itemOf(launcher.d(), 0)->menuRole(), QAction::QuitRole);
    EXPECT_EQ(itemOf(launcher.d(), 1)->text(), "Close Window");
    EXPECT_EQ(itemOf(launcher.d(), 1)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_W));
}

namespace {

const std::vector<std::pair<const char*, std::function<void(AppDelegate&)>>> kEndings = {
    {"quit_item", [](AppDelegate& d) { itemOf(d, 0)->trigger(); }},
    {"close_window_item", [](AppDelegate& d) { itemOf(d, 1)->trigger(); }},
    {"close_button", [](AppDelegate& d) { d.window->close(); }},
    {"quit_shortcut",
     [](AppDelegate& d) { QTest::keyClick(d.window->windowHandle(), Qt::Key_Q, Qt::ControlModifier); }},
    {"close_shortcut",
     [](AppDelegate& d) { QTest::keyClick(d.window->windowHandle(), Qt::Key_W, Qt::ControlModifier); }},
};

class WayOut : public ::testing::TestWithParam<size_t> {};

}  // namespace

// Every way out ends the event loop through the application's quit path.
TEST_P(WayOut, EndsTheApplication) {
    const auto& end = kEndings[GetParam()].second;
    uitest::Launcher launcher;
    launcher.delegate->installAsApplicationDelegate();
    launcher.launch();
    AppDelegate& d = launcher.d();
    QApplication::setActiveWindow(d.window.get());
    bool aboutToQuit = false;
    const auto connection = QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { aboutToQuit = true; });
    QTimer::singleShot(0, [&d, &end] { end(d); });
    QTimer hang;  // only to end a hang
    QObject::connect(&hang, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    hang.start(20000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(aboutToQuit);
    QObject::disconnect(connection);
}

INSTANTIATE_TEST_SUITE_P(MenuBar, WayOut, ::testing::Range<size_t>(0, kEndings.size()),
                         [](const auto& info) { return std::string(kEndings[info.param].first); });
