// The e2e tier's entry point: offscreen unless scripts/screenshots --journey
// asks for the real (virtual) display; Qt's main-queue poster as the launcher installs it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

#include "app/QtMainQueue.h"

int main(int argc, char** argv) {
    if (!::getenv("FERROWICK_JOURNEY_DIR")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QtMainQueue::install();
    return RUN_ALL_TESTS();
}
