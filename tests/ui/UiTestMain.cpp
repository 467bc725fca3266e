// Entry point of the UI tests: one QApplication on Qt's offscreen platform,
// with the Qt main-queue poster installed as the launcher installs it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

#include "app/QtMainQueue.h"

int main(int argc, char** argv) {
    // scripts/screenshots --journey runs the e2e journey on a real (virtual) display.
    if (!std::getenv("FERROWICK_JOURNEY_DIR")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QtMainQueue::install();
    return RUN_ALL_TESTS();
}
