// Every screen: its controls, texts and a PNG of it, into $FERROWICK_SCREENSHOT_DIR
// when set (scripts/screenshots), else into the test's own temporary dir.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QImage>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <thread>

#include "app/DropView.h"
#include "app/Spinner.h"
#include "ui/UiSupport.h"

using Names = std::vector<std::string>;

TEST(Screens, EachShowsExactlyItsControlsAndTextsAndRendersDistinctly) {
    uitest::Launcher launcher;
    launcher.buildWindow();
    AppDelegate& d = launcher.d();
    const char* env = ::getenv("FERROWICK_SCREENSHOT_DIR");
    const std::string dir = env && *env ? env : launcher.home.tmp();
    auto hover = [&](const std::string& file) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(launcher.home.tmp() + file))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(d.dropZone, &enter);
    };
    const Names step1 = {"downloadButton", "dropZone", "repairButton"}, button = {"mainButton"};
    const std::string kStep1 =
        "Step 1: Install Steam\nDownload Steam for Windows (.exe),\nthen drag the installer below.";
    struct Case {
        std::string name;
        std::function<void()> show;
        std::string status;
        Names visible;  // besides icon, title and status
        const char* mainTitle;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"01-eula", [&] { d.showEula(); }, "Please review and accept\nthe terms to continue.",
         {"eulaCheck1", "eulaAcceptButton", "eulaLinkButton", "privacyLink"}, "Close Steam"},
        {"02-loading", [&] { d.showLoading("Preparing environment..."); }, "Preparing environment...", {"spinner"},
         "Close Steam"},
        {"03-step1", [&] { d.showStep1(); }, kStep1, step1, "Close Steam"},
        {"04-step1-drop-accepting", [&] { hover("/SteamSetup.exe"); }, kStep1, step1, "Close Steam"},
        {"05-step1-drop-rejecting", [&] { hover("/notes.txt"); }, kStep1, step1, "Close Steam"},
        {"06-steam-ready", [&] { d.showSteamReady(); }, "Launch Quillmoor from\nyour Steam Library.",
         {"mainButton", "repairButton"}, "Open Steam"},
        {"07-steam-launching", [&] { d.showSteamLaunching(); }, "Steam launching...", button, "Close Steam"},
        {"08-steam-running", [&] { d.showSteamRunning(); }, "Steam is running.\nPlay Quillmoor from your Library.",
         button, "Close Steam"},
        {"09-steam-launch-failed", [&] { d.showSteamLaunchFailed(); },
         "Steam failed to start.\nTry closing and reopening.", button, "Close Steam"},
        {"10-error", [&] { d.showError("Setup failed.\nPlease try again or use Repair."); },
         "Setup failed.\nPlease try again or use Repair.", {"repairButton"}, "Close Steam"},
    };
    // clang-format on
    std::map<std::string, QImage> images;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool hovering = c.name.find("drop") != std::string::npos;
        if (!hovering) {
            // Everything on show, ticked, mid-download and titled "Close Steam": a screen
            // must hide what it does not own and keep what it does not set.
            for (QWidget* w : d.window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) w->show();
            d.mainButton->setText("Close Steam");
            d.eulaCheck1->setChecked(true);
            d.progressBar->setValue(420);
            d.statusLabel->setText("before");
        }
        c.show();
        EXPECT_TRUE(hovering || launcher.status() == "before") << "never applied inline";
        uitest::settle();
        Names visible = {"appIcon", "productTitle", "statusLabel"};
        visible.insert(visible.end(), c.visible.begin(), c.visible.end());
        EXPECT_EQ(uitest::visibleControls(d), visible);
        EXPECT_EQ(launcher.status(), c.status);
        EXPECT_EQ(d.mainButton->text().toStdString(), c.mainTitle);
        EXPECT_EQ(d.spinner->isAnimating(), c.visible == Names{"spinner"});
        EXPECT_EQ(d.eulaCheck1->isChecked(), c.name != "01-eula");
        EXPECT_EQ(d.progressBar->value(), 420);
        for (QWidget* w : d.window->findChildren<QWidget*>()) EXPECT_TRUE(w->isEnabled());

        d.spinner->stopAnimation();  // a still frame, so equal screens render equal
        const QImage image = d.window->grab().toImage();
        const QString file = QString::fromStdString(dir + "/" + c.name + ".png");
        ASSERT_TRUE(image.save(file, "PNG"));
        EXPECT_EQ(QImage(file).size(), QSize(360, 400) * d.window->devicePixelRatio());
        for (const auto& [other, otherImage] : images) EXPECT_NE(image, otherImage) << "renders like " << other;
        images.emplace(c.name, image);
    }
}

TEST(Screens, TheLastRequestWinsFromAnyThreadAndNothingRunsOnceTheControllerIsGone) {
    uitest::Launcher launcher;
    launcher.buildWindow();
    AppDelegate& d = launcher.d();
    for (const bool fromBackground : {false, true}) {
        auto screens = [&d] {
            d.showSteamRunning();
            d.showError("Not enough disk space.");
            d.showStep1();
        };
        fromBackground ? std::thread(screens).join() : screens();
        EXPECT_EQ(uitest::logLines().back(), "ERROR Not enough disk space.") << "logged at once, on the calling thread";
        uitest::settle();
        EXPECT_EQ(uitest::visibleControls(d).size(), 6u);
        EXPECT_TRUE(launcher.status().starts_with("Step 1: Install Steam"));
    }
    d.showSteamReady();
    launcher.delegate.reset();
    uitest::settle();  // the dropped screen must not touch the destroyed controls
}
