#include <gtest/gtest.h>

#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <thread>

#include "app/Spinner.h"
#include "ui/UiSupport.h"

using uitest::Launcher;
using uitest::settle;
using Names = std::vector<std::string>;

namespace {

const Names kAlways = {"appIcon", "productTitle", "statusLabel"};
const std::string kStep1 = "Step 1: Install Steam\nDownload Steam for Windows (.exe),\nthen drag the installer below.";

Names with(Names extra) {
    Names out = kAlways;
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

// Every switchable control on show, ticked, mid-download and titled "Close Steam":
// a screen must hide what it does not own and keep the title it does not set.
void showEverything(AppDelegate& d) {
    for (QWidget* w : d.window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) w->show();
    d.mainButton->setText("Close Steam");
    d.eulaCheck1->setChecked(true);
    d.progressBar->setValue(420);
    d.spinner->startAnimation();
}

}  // namespace

TEST(Screens, EachShowsExactlyItsControlsAndTextsOnceTheEventLoopRuns) {
    struct Case {
        std::function<void(AppDelegate&)> show;
        std::string status;
        Names visible;
        const char* mainTitle;
    };
    const std::vector<Case> cases = {
        {[](AppDelegate& d) { d.showEula(); }, "Please review and accept\nthe terms to continue.",
         with({"eulaCheck1", "eulaAcceptButton", "eulaLinkButton", "privacyLink"}), "Close Steam"},
        {[](AppDelegate& d) { d.showLoading("Preparing environment..."); }, "Preparing environment...",
         with({"spinner"}), "Close Steam"},
        {[](AppDelegate& d) { d.showStep1(); }, kStep1, with({"downloadButton", "dropZone", "repairButton"}),
         "Close Steam"},
        {[](AppDelegate& d) { d.showSteamReady(); }, "Launch Quillmoor from\nyour Steam Library.",
         with({"mainButton", "repairButton"}), "Open Steam"},
        {[](AppDelegate& d) { d.showSteamLaunching(); }, "Steam launching...", with({"mainButton"}), "Close Steam"},
        {[](AppDelegate& d) { d.showSteamRunning(); }, "Steam is running.\nPlay Quillmoor from your Library.",
         with({"mainButton"}), "Close Steam"},
        {[](AppDelegate& d) { d.showSteamLaunchFailed(); }, "Steam failed to start.\nTry closing and reopening.",
         with({"mainButton"}), "Close Steam"},
        {[](AppDelegate& d) { d.showError("Setup failed.\nPlease try again."); }, "Setup failed.\nPlease try again.",
         with({"repairButton"}), "Close Steam"},
    };
    Launcher launcher;
    launcher.buildWindow();
    AppDelegate& d = launcher.d();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        showEverything(d);
        d.statusLabel->setText("before");
        c.show(d);
        EXPECT_EQ(launcher.status(), "before") << "never applied inline";
        settle();
        EXPECT_EQ(uitest::visibleControls(d), c.visible);
        EXPECT_EQ(launcher.status(), c.status);
        EXPECT_EQ(d.mainButton->text().toStdString(), c.mainTitle);
        EXPECT_EQ(d.spinner->isAnimating(), c.visible == with({"spinner"}));
        EXPECT_EQ(d.eulaCheck1->isChecked(), c.visible.size() != 7) << "the agreement screen unticks the box";
        // No screen disables a control or resets the download progress.
        for (QWidget* w : d.window->findChildren<QWidget*>()) EXPECT_TRUE(w->isEnabled());
        EXPECT_EQ(d.progressBar->value(), 420);
    }
}

TEST(Screens, TheLastRequestWinsFromAnyThreadAndNothingRunsOnceTheControllerIsGone) {
    Launcher launcher;
    launcher.buildWindow();
    AppDelegate& d = launcher.d();
    for (const bool fromBackground : {false, true}) {
        auto twoScreens = [&d] {
            d.showSteamRunning();
            d.showError("Not enough disk space.");
            d.showStep1();
        };
        fromBackground ? std::thread(twoScreens).join() : twoScreens();
        // The error is logged at once, on the calling thread.
        EXPECT_EQ(uitest::logLines().back(), "ERROR Not enough disk space.");
        settle();
        EXPECT_EQ(uitest::visibleControls(d), with({"downloadButton", "dropZone", "repairButton"}));
        EXPECT_EQ(launcher.status(), kStep1);
    }
    d.showSteamReady();
    launcher.delegate.reset();
    settle();  // the dropped screen must not touch the destroyed controls
}
