// The UI tests: one QApplication on Qt's offscreen platform, with the main-queue poster the launcher installs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

#include "app/LauncherMain.h"
#include "app/QtMainQueue.h"

namespace uitest {
int runChild(const std::string& role);  // a launcher process a test starts and ends (JourneyLogsTest.cpp)
}

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const char* child = ::getenv("FERROWICK_UI_CHILD");
    if (child && std::string(child) == "launcher") return launcherMain(argc, argv);  // the whole program
    if (!child) ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QtMainQueue::install();
    return child ? uitest::runChild(child) : RUN_ALL_TESTS();
}
