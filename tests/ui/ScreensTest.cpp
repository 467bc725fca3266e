// Every screen and state as a text dump compared with tests/golden/screens,
// and a PNG of each into $FERROWICK_SCREENSHOT_DIR when set (scripts/screenshots),
// else into the test's own temporary dir.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <thread>

#include "app/DropView.h"
#include "platform/Subprocess.h"
#include "ui/ScreenDump.h"
#include "ui/UiSupport.h"

namespace {

void dragOver(DropView* zone, const std::string& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(150, 27), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(zone, &enter);
}

void dragAway(DropView* zone) {
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(zone, &leave);
}

}  // namespace

TEST(ScreenDumps, EveryScreenAndState) {
    uitest::Launcher launcher;
    launcher.buildWindow();
    AppDelegate& d = launcher.d();
    const char* env = ::getenv("FERROWICK_SCREENSHOT_DIR");
    const std::string dir = env && *env ? env : launcher.home.tmp();
    auto capture = [&](const std::string& name) {
        SCOPED_TRACE(name);
        uitest::expectGoldenScreen(name, uitest::screenDump(*d.window));
        ASSERT_TRUE(d.window->grab().save(QString::fromStdString(dir + "/" + name + ".png"), "PNG"));
    };
    // Everything on show first: a screen must hide what it does not own.
    auto screen = [&](const std::string& name, const std::function<void()>& show, bool posted = true) {
        for (QWidget* w : d.window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) w->show();
        d.statusLabel->setText("before");
        show();
        if (posted) {
            EXPECT_EQ(launcher.status(), "before") << name << " applied inline";
        }
        uitest::settle();
        capture(name);
    };

    capture("00-startup");
    d.eulaCheck1->setChecked(true);
    screen("01-agreement", [&] { d.showEula(); });
    d.eulaCheck1->click();
    capture("02-agreement-ticked");
    d.eulaCheck1->click();
    d.eulaAcceptButton->click();
    uitest::settle();
    capture("03-agreement-continue-unticked");
    screen("04-loading", [&] { d.showLoading("Preparing environment..."); });
    screen(
        "05-download-0", [&] { d.showDownload(); }, false);
    d.showDownloadProgress(0.42, "Setting up... 42%");
    capture("06-download-42");
    screen("07-step1", [&] { d.showStep1(); });
    dragOver(d.dropZone, launcher.home.tmp() + "/SteamSetup.exe");
    capture("08-step1-accepting");
    dragAway(d.dropZone);
    dragOver(d.dropZone, launcher.home.tmp() + "/SteamSetup.exe.txt");
    capture("09-step1-rejecting");
    dragAway(d.dropZone);
    screen("10-steam-ready", [&] { d.showSteamReady(); });
    screen("11-steam-launching", [&] { d.showSteamLaunching(); });
    screen("12-steam-running", [&] { d.showSteamRunning(); });
    screen("13-steam-launch-failed", [&] { d.showSteamLaunchFailed(); });
    // A message from elsewhere is shown as it is, never as markup, and logged first.
    const std::string error = "Could not read <b>C:\\users</b> & <i>system.reg</i>";
    screen("14-error", [&] { d.showError(error); });
    EXPECT_TRUE(
        testsupport::readFile(Constants::supportDir() + "/launcher.log").ends_with("] [ERROR] " + error + "\n"));

    // From any thread the last request wins, and nothing runs once the controller is gone.
    std::thread([&d] { d.showSteamRunning(), d.showError("Not enough disk space."), d.showStep1(); }).join();
    uitest::settle();
    EXPECT_EQ(uitest::visibleControls(d), (std::vector<std::string>{"appIcon", "productTitle", "statusLabel",
                                                                    "downloadButton", "dropZone", "repairButton"}));
    d.showSteamReady();
    auto onDrop = d.dropZone->onDrop;
    launcher.delegate.reset();
    uitest::settle();                            // the dropped screen must not touch the destroyed controls
    onDrop(launcher.home.tmp() + "/after.exe");  // nor a drop reach the destroyed controller
}

// At a scale factor of 2 (every Retina screen) the icon has twice the pixels.
// Qt reads the factor once per process, so the test runs itself again with it.
TEST(ScreenDumps, StartupAtScaleFactorTwo) {
    if (qGuiApp->devicePixelRatio() != 2.0) {
        auto environment = platform::currentEnvironment();
        environment["QT_SCALE_FACTOR"] = "2";
        const auto child = platform::Subprocess::run({std::filesystem::read_symlink("/proc/self/exe").string(),
                                                      {"--gtest_filter=ScreenDumps.StartupAtScaleFactorTwo"},
                                                      environment,
                                                      platform::OutputMode::Pipe});
        ASSERT_TRUE(child);
        EXPECT_EQ(child->exit.status, 0) << child->output;
        EXPECT_NE(child->output.find("[  PASSED  ] 1 test"), std::string::npos) << child->output;
        return;
    }
    uitest::Launcher launcher;
    launcher.buildWindow();
    uitest::expectGoldenScreen("00-startup-scale-2", uitest::screenDump(*launcher.d().window));
}

// Without the icon resource the window opens without it and nothing else moves.
TEST(ScreenDumps, StartupWithoutTheIcon) {
    uitest::Launcher launcher;
    std::filesystem::remove(launcher.home.bundle() + "/AppIcon.png");
    launcher.buildWindow();
    uitest::expectGoldenScreen("00-startup-no-icon", uitest::screenDump(*launcher.d().window));
}
