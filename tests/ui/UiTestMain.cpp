// Entry point of the UI tests: one QApplication on Qt's offscreen platform,
// with the Qt main-queue poster installed as the launcher installs it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <string>

#include "app/QtMainQueue.h"

namespace uitest {
// A launcher process that a test starts and kills (ActivityRacesTest.cpp).
int runChild(const std::string& role);
}  // namespace uitest

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const char* child = ::getenv("FERROWICK_UI_CHILD");
    if (!child) ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QtMainQueue::install();
    return child ? uitest::runChild(child) : RUN_ALL_TESTS();
}
