// Every screen: its controls, and a PNG of it into $FERROWICK_SCREENSHOT_DIR
// when set (scripts/screenshots), else into the test's own temporary dir.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QImage>
#include <QProgressBar>
#include <QPushButton>
#include <thread>

#include "app/DropView.h"
#include "app/Spinner.h"
#include "ui/UiSupport.h"

using Names = std::vector<std::string>;

TEST(Screenshots, EachScreenShowsExactlyItsControls) {
    uitest::Launcher launcher;
    launcher.buildWindow();
    AppDelegate& d = launcher.d();
    const char* env = ::getenv("FERROWICK_SCREENSHOT_DIR");
    const std::string dir = env && *env ? env : launcher.home.tmp();
    const Names step1 = {"downloadButton", "dropZone", "repairButton"}, button = {"mainButton"};
    struct Case {
        std::string name;
        std::function<void()> show;
        Names visible;  // besides icon, title and status
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"01-eula", [&] { d.showEula(); }, {"eulaCheck1", "eulaAcceptButton", "eulaLinkButton", "privacyLink"}},
        {"02-loading", [&] { d.showLoading("Preparing environment..."); }, {"spinner"}},
        {"03-step1", [&] { d.showStep1(); }, step1},
        {"06-steam-ready", [&] { d.showSteamReady(); }, {"mainButton", "repairButton"}},
        {"07-steam-launching", [&] { d.showSteamLaunching(); }, button},
        {"08-steam-running", [&] { d.showSteamRunning(); }, button},
        {"09-steam-launch-failed", [&] { d.showSteamLaunchFailed(); }, button},
        {"10-error", [&] { d.showError("Setup failed.\nPlease try again or use Repair."); }, {"repairButton"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Everything on show, ticked, mid-download and titled "Close Steam": a screen
        // must hide what it does not own and keep what it does not set.
        for (QWidget* w : d.window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) w->show();
        d.mainButton->setText("Close Steam");
        d.progressBar->setValue(420);
        d.statusLabel->setText("before");
        c.show();
        EXPECT_EQ(launcher.status(), "before") << "never applied inline";
        uitest::settle();
        Names visible = {"appIcon", "productTitle", "statusLabel"};
        visible.insert(visible.end(), c.visible.begin(), c.visible.end());
        EXPECT_EQ(uitest::visibleControls(d), visible);
        EXPECT_EQ(d.mainButton->text() == "Open Steam", c.name == "06-steam-ready");
        EXPECT_EQ(d.spinner->isAnimating(), c.visible == Names{"spinner"});
        EXPECT_EQ(d.progressBar->value(), 420);

        d.spinner->stopAnimation();  // a still frame, so equal screens render equal
        const QImage image = d.window->grab().toImage();
        EXPECT_EQ(image.size(), QSize(360, 400) * d.window->devicePixelRatio());
        ASSERT_TRUE(image.save(QString::fromStdString(dir + "/" + c.name + ".png"), "PNG"));
    }

    // From any thread the last request wins, and nothing runs once the controller is gone.
    std::thread([&d] { d.showSteamRunning(), d.showError("Not enough disk space."), d.showStep1(); }).join();
    uitest::settle();
    EXPECT_EQ(uitest::visibleControls(d).size(), 6u);
    d.showSteamReady();
    auto onDrop = d.dropZone->onDrop;
    launcher.delegate.reset();
    uitest::settle();                            // the dropped screen must not touch the destroyed controls
    onDrop(launcher.home.tmp() + "/after.exe");  // nor a drop reach the destroyed controller
}
