#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <thread>

#include "app/DropView.h"
#include "app/Spinner.h"
#include "ui/UiSupport.h"

using uitest::Launcher;
using uitest::settle;

namespace {

const std::vector<std::string> always = {"appIcon", "productTitle", "statusLabel"};

std::vector<std::string> withAlways(std::vector<std::string> extra) {
    // Stacking order: icon, title, status, then the controls in creation order.
    static const std::vector<std::string> order = {
        "appIcon",  "productTitle", "statusLabel", "spinner",          "progressBar",    "mainButton", "downloadButton",
        "dropZone", "repairButton", "eulaCheck1",  "eulaAcceptButton", "eulaLinkButton", "privacyLink"};
    extra.insert(extra.end(), always.begin(), always.end());
    std::vector<std::string> out;
    for (const auto& name : order) {
        if (std::find(extra.begin(), extra.end(), name) != extra.end()) out.push_back(name);
    }
    return out;
}

struct ScreenCase {
    const char* name;
    std::function<void(AppDelegate&)> show;
    const char* status;
    std::vector<std::string> visible;
    const char* mainTitle;  // the title left on the main button
    bool spinnerAnimating;
};

const std::vector<ScreenCase>& screens() {
    static const std::vector<ScreenCase> cases = {
        {"eula",
         [](AppDelegate& d) { d.showEula(); },
         "Please review and accept\nthe terms to continue.",
         {"eulaCheck1", "eulaAcceptButton", "eulaLinkButton", "privacyLink"},
         "Close Steam",
         false},
        {"loading",
         [](AppDelegate& d) { d.showLoading("Preparing environment..."); },
         "Preparing environment...",
         {"spinner"},
         "Close Steam",
         true},
        {"step1",
         [](AppDelegate& d) { d.showStep1(); },
         "Step 1: Install Steam\nDownload Steam for Windows (.exe),\nthen drag the installer below.",
         {"downloadButton", "dropZone", "repairButton"},
         "Close Steam",
         false},
        {"ready",
         [](AppDelegate& d) { d.showSteamReady(); },
         "Launch Quillmoor from\nyour Steam Library.",
         {"mainButton", "repairButton"},
         "Open Steam",
         false},
        {"launching",
         [](AppDelegate& d) { d.showSteamLaunching(); },
         "Steam launching...",
         {"mainButton"},
         "Close Steam",
         false},
        {"running",
         [](AppDelegate& d) { d.showSteamRunning(); },
         "Steam is running.\nPlay Quillmoor from your Library.",
         {"mainButton"},
         "Close Steam",
         false},
        {"launchFailed",
         [](AppDelegate& d) { d.showSteamLaunchFailed(); },
         "Steam failed to start.\nTry closing and reopening.",
         {"mainButton"},
         "Close Steam",
         false},
        {"error",
         [](AppDelegate& d) { d.showError("Setup failed.\nPlease try again."); },
         "Setup failed.\nPlease try again.",
         {"repairButton"},
         "Close Steam",
         false},
    };
    return cases;
}

// Puts every switchable control on show with the main button titled
// "Close Steam", so a screen must hide what it does not own.
void showEverything(AppDelegate& d) {
    for (QWidget* w : d.window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) w->show();
    d.mainButton->setText("Close Steam");
    d.eulaCheck1->setChecked(true);
    d.progressBar->setValue(420);
    d.spinner->startAnimation();
}

}  // namespace

class EachScreen : public ::testing::TestWithParam<size_t> {};

TEST_P(EachScreen, ShowsExactlyItsControlsAndTexts) {
    const ScreenCase& screen = screens()[GetParam()];
    Launcher launcher;
    launcher.buildWindow();
    AppDelegate& d = launcher.d();
    showEverything(d);
    screen.show(d);
    settle();
    EXPECT_EQ(uitest::visibleControls(d), withAlways(screen.visible));
    EXPECT_EQ(d.statusLabel->text().toStdString(), screen.status);
    EXPECT_EQ(d.mainButton->text().toStdString(), screen.mainTitle);
    EXPECT_EQ(d.spinner->isAnimating(), screen.spinnerAnimating);
    // No screen disables a control or resets the download progress.
    for (QWidget* w : d.window->findChildren<QWidget*>()) EXPECT_TRUE(w->isEnabled());
    EXPECT_EQ(d.progressBar->value(), 420);
}

INSTANTIATE_TEST_SUITE_P(Screens, EachScreen, ::testing::Range<size_t>(0, screens().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(screens()[info.param].name);
                         });

TEST(Screens, MainButtonTitlePersistsWhileHidden) {
    Launcher launcher;
    launcher.buildWindow();
    AppDelegate& d = launcher.d();
    d.showSteamRunning();
    d.showLoading("Restarting Steam...");
    settle();
    EXPECT_FALSE(d.mainButton->isVisibleTo(d.window.get()));
    EXPECT_EQ(d.mainButton->text(), "Close Steam");
    d.showSteamReady();
    settle();
    EXPECT_EQ(d.mainButton->text(), "Open Steam");
}

TEST(Screens, EulaScreenUnticksTheBox) {
    Launcher launcher;
    launcher.buildWindow();
    launcher.d().eulaCheck1->setChecked(true);
    launcher.d().showEula();
    settle();
    EXPECT_FALSE(launcher.d().eulaCheck1->isChecked());
}

TEST(Screens, ScreenCallsTakeEffectOnlyOnceTheEventLoopRuns) {
    Launcher launcher;
    launcher.buildWindow();
    launcher.d().showStep1();
    EXPECT_EQ(launcher.d().statusLabel->text(), "Checking system...");
    EXPECT_FALSE(launcher.d().dropZone->isVisibleTo(launcher.d().window.get()));
    settle();
    EXPECT_TRUE(launcher.d().dropZone->isVisibleTo(launcher.d().window.get()));
}

class TwoScreens : public ::testing::TestWithParam<bool> {};

TEST_P(TwoScreens, TheLastOneWins) {
    Launcher launcher;
    launcher.buildWindow();
    AppDelegate& d = launcher.d();
    auto twoScreens = [&d] {
        d.showSteamRunning();
        d.showStep1();
    };
    if (GetParam()) {
        std::thread(twoScreens).join();
    } else {
        twoScreens();
    }
    settle();
    EXPECT_EQ(uitest::visibleControls(d), withAlways({"downloadButton", "dropZone", "repairButton"}));
    EXPECT_EQ(d.statusLabel->text().toStdString(),
              "Step 1: Install Steam\nDownload Steam for Windows (.exe),\nthen drag the installer below.");
}

INSTANTIATE_TEST_SUITE_P(Screens, TwoScreens, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "from_background_thread" : "from_main_thread");
});

TEST(Screens, ErrorIsLoggedOnTheCallingThreadBeforeItShows) {
    Launcher launcher;
    launcher.buildWindow();
    for (const std::string message : {"Not enough disk space.", ""}) {
        SCOPED_TRACE(message);
        const QString before = launcher.d().statusLabel->text();
        launcher.d().showError(message);
        // Logged at once, before the screen block has run.
        const auto lines = uitest::logLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.back().find("] [ERROR] "), std::string::npos);
        EXPECT_EQ(uitest::messageOf(lines.back()), message);
        EXPECT_EQ(launcher.d().statusLabel->text(), before);
        settle();
        EXPECT_EQ(launcher.d().statusLabel->text().toStdString(), message);
        EXPECT_TRUE(launcher.d().repairButton->isVisibleTo(launcher.d().window.get()));
    }
}

TEST(Screens, ScreenRequestedAfterTheControllerIsGoneIsDropped) {
    Launcher launcher;
    launcher.buildWindow();
    launcher.d().showSteamReady();
    launcher.delegate.reset();
    bool later = false;
    AppDelegate::ui([&later] { later = true; });
    settle();  // the dropped screen must not touch the destroyed controls
    EXPECT_TRUE(later);
}
