#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QPushButton>
#include <QTextBrowser>
#include <QtTest/QTest>
#include <regex>

#include "ui/UiSupport.h"

// The agreement with the keyboard alone: Tab reaches the box, the buttons and
// the links, Space presses them. Setup starts only once the box is ticked and
// accepted, the marker written first. Without runtime.lock in the test bundle
// the system check wants macOS 14, which Linux never reports.
TEST(Startup, TheAgreementGatesSetupAndTakesTheKeyboard) {
    uitest::Launcher launcher;
    launcher.launch();
    AppDelegate& d = launcher.d();
    ASSERT_TRUE(d.statusTimer && d.statusTimer->isActive());
    QApplication::setActiveWindow(d.window.get());
    QTextBrowser browser;  // stands in for the user's browser
    QDesktopServices::setUrlHandler("https", &browser, "setSource");
    const auto opened = [&] { return browser.source().toString().toStdString(); };
    auto key = [&](Qt::Key k) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : d.window.get(), k);
        uitest::settle();
    };
    if (!QApplication::focusWidget()) key(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), d.eulaCheck1);
    key(Qt::Key_Tab), key(Qt::Key_Space);  // Continue, not ticked
    EXPECT_EQ(launcher.status(), "Please check the box to continue.");
    EXPECT_FALSE(std::filesystem::exists(Constants::eulaAcceptedFile()));
    key(Qt::Key_Tab), key(Qt::Key_Space);  // the two links
    EXPECT_TRUE(opened().ends_with("/eula")) << opened();
    key(Qt::Key_Tab), key(Qt::Key_Space);
    EXPECT_TRUE(opened().ends_with("/privacy")) << opened();
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_FALSE(std::filesystem::exists(Constants::eulaAcceptedFile()));

    uitest::StatusRecorder screens(d);
    key(Qt::Key_Tab), key(Qt::Key_Space);  // round to the box: tick it
    ASSERT_TRUE(d.eulaCheck1->isChecked());
    key(Qt::Key_Tab), key(Qt::Key_Space);
    ASSERT_TRUE(std::filesystem::exists(Constants::eulaAcceptedFile()));
    ASSERT_TRUE(uitest::pumpUntil([&] { return !d.repairButton->isHidden(); }));
    EXPECT_TRUE(
        uitest::inOrder(screens.texts, {"Checking system...", "macOS 14.0 or later is required.\nYour version: *"}));
}

// With the agreement given, a start shows exactly the start-up screen and then
// the system check's verdict: no agreement screen or other screen in between.
TEST(Startup, WithTheMarkerNoOtherScreenSlipsIn) {
    uitest::Launcher launcher;
    testsupport::writeFile(Constants::eulaAcceptedFile(), "");
    uitest::StatusRecorder screens(launcher.d());
    launcher.launch();
    ASSERT_TRUE(uitest::pumpUntil([&] { return !launcher.d().repairButton->isHidden(); }));
    screens.sample();
    for (auto& screen : screens.screens)
        screen = std::regex_replace(screen, std::regex("Your version: [^|]*"), "Your version: * ");
    EXPECT_EQ(screens.screens,
              (std::vector<std::string>{"Checking system... | appIcon productTitle statusLabel spinner",
                                        "macOS 14.0 or later is required.\nYour version: * | appIcon productTitle "
                                        "statusLabel repairButton"}));
}
