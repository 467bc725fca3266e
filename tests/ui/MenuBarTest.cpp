#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QtTest/QTest>

#include "ui/UiSupport.h"

using uitest::Launcher;

namespace {

QAction* itemOf(AppDelegate& d, int menuIndex) {
    return d.menuBar()->actions().at(menuIndex)->menu()->actions().at(0);
}

}  // namespace

TEST(MenuBar, HoldsOnlyQuitAndFileCloseWindow) {
    Launcher launcher;
    launcher.buildWindow();
    QMenuBar* bar = launcher.d().menuBar();
    ASSERT_NE(bar, nullptr);
    const auto top = bar->actions();
    ASSERT_EQ(top.size(), 2);
    EXPECT_TRUE(top[0]->text().isEmpty());
    EXPECT_EQ(top[1]->text(), "File");

    struct Item {
        int menu;
        const char* title;
        QKeySequence shortcut;
    };
    for (const Item& item : {Item{0, "Quit Ferrowick", QKeySequence(Qt::CTRL | Qt::Key_Q)},
                             Item{1, "Close Window", QKeySequence(Qt::CTRL | Qt::Key_W)}}) {
        SCOPED_TRACE(item.title);
        const auto actions = top[item.menu]->menu()->actions();
        ASSERT_EQ(actions.size(), 1);
        EXPECT_EQ(actions[0]->text(), item.title);
        EXPECT_EQ(actions[0]->shortcut(), item.shortcut);
    }
    EXPECT_EQ(itemOf(launcher.d(), 0)->menuRole(), QAction::QuitRole);
}

namespace {

enum class Ending { quitItem, closeWindowItem, closeButton, quitShortcut, closeShortcut };

struct EndingCase {
    const char* name;
    Ending ending;
};

void PrintTo(const EndingCase& c, std::ostream* out) {
    *out << c.name;
}

class Ends : public ::testing::TestWithParam<EndingCase> {};

}  // namespace

// Every way out ends the event loop through the application's quit path.
TEST_P(Ends, TheApplication) {
    Launcher launcher;
    launcher.delegate->installAsApplicationDelegate();
    launcher.launch();
    AppDelegate& d = launcher.d();
    d.window->activateWindow();
    QApplication::setActiveWindow(d.window.get());
    bool aboutToQuit = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { aboutToQuit = true; });
    bool timedOut = false;
    QTimer::singleShot(0, [&] {
        switch (GetParam().ending) {
        case Ending::quitItem:
            itemOf(d, 0)->trigger();
            break;
        case Ending::closeWindowItem:
            itemOf(d, 1)->trigger();
            break;
        case Ending::closeButton:
            d.window->close();
            break;
        case Ending::quitShortcut:
        case Ending::closeShortcut: {
            // Through the platform's key path, where shortcuts are resolved.
            const auto key = GetParam().ending == Ending::quitShortcut ? Qt::Key_Q : Qt::Key_W;
            QTest::keyClick(d.window->windowHandle(), key, Qt::ControlModifier);
            break;
        }
        }
    });
    QTimer::singleShot(20000, [&] {  // only to end a hang
        timedOut = true;
        QCoreApplication::exit(1);
    });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(aboutToQuit);
}

INSTANTIATE_TEST_SUITE_P(MenuBar, Ends,
                         ::testing::Values(EndingCase{"quit_item", Ending::quitItem},
                                           EndingCase{"close_window_item", Ending::closeWindowItem},
                                           EndingCase{"close_button", Ending::closeButton},
                                           EndingCase{"quit_shortcut", Ending::quitShortcut},
                                           EndingCase{"close_shortcut", Ending::closeShortcut}),
                         [](const ::testing::TestParamInfo<EndingCase>& info) { return info.param.name; });
