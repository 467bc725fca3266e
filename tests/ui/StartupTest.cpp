#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <filesystem>

#include "app/Spinner.h"
#include "ui/UiSupport.h"
#include "wine/Constants.h"

using uitest::Launcher;
using uitest::settle;

namespace {

const std::vector<std::string> eulaScreen = {"appIcon",          "productTitle",   "statusLabel", "eulaCheck1",
                                             "eulaAcceptButton", "eulaLinkButton", "privacyLink"};
const std::vector<std::string> loadingScreen = {"appIcon", "productTitle", "statusLabel", "spinner"};

bool markerExists() {
    return std::filesystem::exists(Constants::eulaAcceptedFile());
}

}  // namespace

TEST(Startup, FirstLinesAreTheBannerThenTheSystemReport) {
    Launcher launcher;
    launcher.launch();
    const auto lines = uitest::logLines();
    ASSERT_GE(lines.size(), 7u);
    const std::vector<std::string> prefixes = {"=== Ferrowick starting ===",
                                               "macOS ",
                                               "CPU cores: ",
                                               "RAM: ",
                                               "Support dir: " + launcher.home.supportDir(),
                                               "Prefix: " + launcher.home.supportDir() + "/prefix",
                                               "Wine: " + launcher.home.supportDir() + "/wine/"};
    for (size_t i = 0; i < prefixes.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_NE(lines[i].find("] [INFO] "), std::string::npos);
        EXPECT_EQ(uitest::messageOf(lines[i]).rfind(prefixes[i], 0), 0u);
    }
}

TEST(Startup, FirstStartShowsTheAgreementAndStartsTheStatusTimer) {
    Launcher launcher;
    launcher.launch();
    AppDelegate& d = launcher.d();
    EXPECT_EQ(uitest::visibleControls(d), eulaScreen);
    EXPECT_EQ(d.statusLabel->text(), "Please review and accept\nthe terms to continue.");
    EXPECT_FALSE(markerExists());
    ASSERT_TRUE(d.statusTimer);
    EXPECT_TRUE(d.statusTimer->isActive());
    EXPECT_EQ(d.statusTimer->interval(), 5000);
    EXPECT_FALSE(d.statusTimer->isSingleShot());
}

TEST(Startup, AcceptingUntickedAsksForTheTickAndStartsNothing) {
    Launcher launcher;
    launcher.launch();
    AppDelegate& d = launcher.d();
    d.eulaAcceptButton->click();
    settle();
    EXPECT_EQ(d.statusLabel->text(), "Please check the box to continue.");
    EXPECT_EQ(uitest::visibleControls(d), eulaScreen);
    EXPECT_FALSE(d.spinner->isAnimating());
    EXPECT_FALSE(markerExists());
    EXPECT_FALSE(uitest::logContains("EULA accepted"));
}

TEST(Startup, AcceptingTickedWritesAnEmptyMarkerAndStartsSetup) {
    Launcher launcher;
    launcher.launch();
    AppDelegate& d = launcher.d();
    d.eulaCheck1->click();
    ASSERT_TRUE(d.eulaCheck1->isChecked());
    d.eulaAcceptButton->click();
    // The marker is written before the click returns; the screen follows.
    ASSERT_TRUE(markerExists());
    EXPECT_EQ(std::filesystem::file_size(Constants::eulaAcceptedFile()), 0u);
    EXPECT_TRUE(uitest::logContains("[INFO] EULA accepted"));
    settle();
    EXPECT_EQ(uitest::visibleControls(d), loadingScreen);
    EXPECT_EQ(d.statusLabel->text(), "Checking system...");
    EXPECT_TRUE(d.spinner->isAnimating());
}

TEST(Startup, StartWithTheMarkerNeverShowsTheAgreement) {
    Launcher launcher;
    testsupport::writeFile(launcher.home.supportDir() + "/eula-accepted", "");
    launcher.delegate->applicationDidFinishLaunching();
    // Watch the agreement controls from before the first posted screen runs.
    struct ShowCounter : QObject {
        int shows = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Show) ++shows;
            return false;
        }
    } counter;
    launcher.d().eulaCheck1->installEventFilter(&counter);
    launcher.d().eulaAcceptButton->installEventFilter(&counter);
    settle();
    EXPECT_EQ(counter.shows, 0);
    EXPECT_EQ(uitest::visibleControls(launcher.d()), loadingScreen);
    EXPECT_EQ(launcher.d().statusLabel->text(), "Checking system...");
    EXPECT_TRUE(launcher.d().statusTimer && launcher.d().statusTimer->isActive());
}

TEST(Startup, MarkerWriteFailureIsSilentAndSetupStillStarts) {
    Launcher launcher;
    launcher.launch();
    // A regular file where the support directory should be: both the
    // directory creation and the marker write fail (root ignores modes).
    const std::string support = Constants::supportDir();
    std::filesystem::rename(support, support + ".moved");
    testsupport::writeFile(support, "a file, not a directory");
    launcher.d().eulaCheck1->setChecked(true);
    launcher.d().eulaAcceptButton->click();
    settle();
    EXPECT_FALSE(launcher.d().eulaAccepted());
    EXPECT_EQ(launcher.d().statusLabel->text(), "Checking system...");
}
