#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>

#include "app/Spinner.h"
#include "ui/UiSupport.h"

using uitest::inOrder;
using uitest::Launcher;

namespace {

const std::vector<std::string> kEulaScreen = {"appIcon",          "productTitle",   "statusLabel", "eulaCheck1",
                                              "eulaAcceptButton", "eulaLinkButton", "privacyLink"};
// Without runtime.lock in the test bundle, the system check wants macOS 14, which Linux never reports.
const std::string kSetupFailed = "macOS 14.0 or later is required.\nYour version: *";

bool markerExists() {
    return std::filesystem::exists(Constants::eulaAcceptedFile());
}

}  // namespace

TEST(Startup, LogsTheReportShowsTheAgreementAndStartsSetupOnlyOnceItIsAccepted) {
    Launcher launcher;
    launcher.launch();
    AppDelegate& d = launcher.d();
    const std::string support = launcher.home.supportDir();
    auto lines = uitest::logLines();
    lines.resize(7);
    EXPECT_TRUE(inOrder(lines, {"INFO === Ferrowick starting ===", "INFO macOS *", "INFO CPU cores: *", "INFO RAM: *",
                                "INFO Support dir: " + support, "INFO Prefix: " + support + "/prefix",
                                "INFO Wine: " + support + "/wine/*"}))
        << ::testing::PrintToString(lines);
    EXPECT_EQ(uitest::visibleControls(d), kEulaScreen);
    EXPECT_EQ(launcher.status(), "Please review and accept\nthe terms to continue.");
    ASSERT_TRUE(d.statusTimer && d.statusTimer->isActive() && !d.statusTimer->isSingleShot());
    EXPECT_EQ(d.statusTimer->interval(), 5000);

    uitest::StatusRecorder screens(d);
    d.eulaAcceptButton->click();  // not ticked
    uitest::settle();
    EXPECT_EQ(launcher.status(), "Please check the box to continue.");
    EXPECT_EQ(uitest::visibleControls(d), kEulaScreen);
    EXPECT_FALSE(markerExists());

    d.eulaCheck1->click();
    d.eulaAcceptButton->click();
    ASSERT_TRUE(markerExists()) << "written before the click returns";
    EXPECT_EQ(std::filesystem::file_size(Constants::eulaAcceptedFile()), 0u);
    ASSERT_TRUE(uitest::pumpUntil([&] { return !d.repairButton->isHidden(); }));
    EXPECT_TRUE(inOrder(screens.texts, {"Please check the box to continue.", "Checking system...", kSetupFailed}));
    EXPECT_TRUE(inOrder(uitest::logLines(), {"INFO EULA accepted", "INFO --- Validation started ---"}));
}

TEST(Startup, WithTheMarkerTheAgreementNeverShows) {
    Launcher launcher;
    testsupport::writeFile(Constants::eulaAcceptedFile(), "");
    launcher.d().applicationDidFinishLaunching();
    struct ShowCounter : QObject {
        int shows = 0;
        bool eventFilter(QObject*, QEvent* e) override { return shows += e->type() == QEvent::Show, false; }
    } counter;
    launcher.d().eulaCheck1->installEventFilter(&counter);  // before the first screen runs
    ASSERT_TRUE(uitest::pumpUntil([&] { return !launcher.d().repairButton->isHidden(); }));
    EXPECT_EQ(counter.shows, 0);
    EXPECT_TRUE(inOrder({launcher.status()}, {kSetupFailed}));
}

TEST(Startup, AMarkerThatCannotBeWrittenIsSilentAndSetupStillStarts) {
    Launcher launcher;
    launcher.launch();
    // A regular file where the support directory belongs (root ignores modes).
    std::filesystem::rename(Constants::supportDir(), Constants::supportDir() + ".moved");
    testsupport::writeFile(Constants::supportDir(), "a file");
    launcher.d().eulaCheck1->setChecked(true);
    launcher.d().eulaAcceptButton->click();
    ASSERT_TRUE(uitest::pumpUntil([&] { return !launcher.d().repairButton->isHidden(); }));
    EXPECT_FALSE(launcher.d().eulaAccepted());
    EXPECT_TRUE(inOrder({launcher.status()}, {kSetupFailed}));
}
