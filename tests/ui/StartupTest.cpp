#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QPushButton>
#include <QTextBrowser>
#include <QtTest/QTest>
#include <regex>

#include "ui/UiSupport.h"

// The agreement with the keyboard alone: Tab reaches the box, Continue and the links, Space presses them.
TEST(Startup, TheAgreementTakesTheKeyboard) {
    uitest::Launcher launcher;
    launcher.launch();
    AppDelegate& d = launcher.d();
    ASSERT_TRUE(d.statusTimer && d.statusTimer->isActive());
    QApplication::setActiveWindow(d.window.get());
    QTextBrowser browser;  // stands in for the user's browser
    QDesktopServices::setUrlHandler("https", &browser, "setSource");
    const auto tabAndSpace = [&] {  // Tab to the next control, Space presses it
        for (Qt::Key k : {Qt::Key_Tab, Qt::Key_Space})
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : d.window.get(), k);
        uitest::settle();
        return browser.source().toString().toStdString();
    };
    ASSERT_EQ(QApplication::focusWidget(), d.eulaCheck1);
    tabAndSpace();  // Continue, not ticked
    EXPECT_EQ(launcher.status(), "Please check the box to continue.");
    EXPECT_TRUE(tabAndSpace().ends_with("/eula"));
    EXPECT_TRUE(tabAndSpace().ends_with("/privacy"));
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_FALSE(std::filesystem::exists(Constants::eulaAcceptedFile()));
    tabAndSpace();  // round to the box: tick it, then Continue
    EXPECT_TRUE(d.eulaCheck1->isChecked());
    tabAndSpace();
    EXPECT_TRUE(std::filesystem::exists(Constants::eulaAcceptedFile()));
    EXPECT_TRUE(uitest::pumpUntil([&] { return !d.repairButton->isHidden(); }));  // setup ran to its verdict
}

// With the agreement given, the start-up screen and then the system check's verdict (without
// runtime.lock in the test bundle it wants macOS 14, which Linux never reports), nothing between.
TEST(Startup, WithTheMarkerNoOtherScreenSlipsIn) {
    uitest::Launcher launcher;
    testsupport::writeFile(Constants::eulaAcceptedFile(), "");
    uitest::StatusRecorder screens(launcher.d());
    launcher.launch();
    ASSERT_TRUE(uitest::pumpUntil([&] { return !launcher.d().repairButton->isHidden(); }));
    for (auto& text : screens.texts) text = std::regex_replace(text, std::regex("Your version: .*"), "Your version: *");
    EXPECT_EQ(screens.texts,
              (std::vector<std::string>{"Checking system...", "macOS 14.0 or later is required.\nYour version: *"}));
}
