#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>

#include "ui/UiSupport.h"

// Setup starts only once the agreement is ticked and accepted, the marker written first. Without
// runtime.lock in the test bundle the system check wants macOS 14, which Linux never reports.
TEST(Startup, TheAgreementGatesSetup) {
    uitest::Launcher launcher;
    launcher.launch();
    AppDelegate& d = launcher.d();
    const std::vector<std::string> eulaScreen = {"appIcon",          "productTitle",   "statusLabel", "eulaCheck1",
                                                 "eulaAcceptButton", "eulaLinkButton", "privacyLink"};
    EXPECT_EQ(uitest::visibleControls(d), eulaScreen);
    ASSERT_TRUE(d.statusTimer && d.statusTimer->isActive());

    uitest::StatusRecorder screens(d);
    d.eulaAcceptButton->click();  // not ticked
    uitest::settle();
    EXPECT_EQ(launcher.status(), "Please check the box to continue.");
    EXPECT_EQ(uitest::visibleControls(d), eulaScreen);
    EXPECT_FALSE(std::filesystem::exists(Constants::eulaAcceptedFile()));

    d.eulaCheck1->click();
    d.eulaAcceptButton->click();
    ASSERT_TRUE(std::filesystem::exists(Constants::eulaAcceptedFile()));
    ASSERT_TRUE(uitest::pumpUntil([&] { return !d.repairButton->isHidden(); }));
    EXPECT_TRUE(uitest::inOrder(screens.texts, {"Please check the box to continue.", "Checking system...",
                                                "macOS 14.0 or later is required.\nYour version: *"}));
}
