// Renders every screen to a PNG, into $FERROWICK_SCREENSHOT_DIR when set
// (scripts/screenshots), else into the test's own temporary dir.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDragEnterEvent>
#include <QImage>
#include <QMimeData>
#include <QUrl>
#include <map>

#include "app/DropView.h"
#include "app/Spinner.h"
#include "ui/UiSupport.h"

TEST(Screenshots, EveryScreenRendersDistinctly) {
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
    const std::vector<std::pair<std::string, std::function<void()>>> screens = {
        {"01-startup", [] {}},
        {"02-eula", [&] { d.showEula(); }},
        {"03-loading", [&] { d.showLoading("Preparing environment..."); }},
        {"04-step1", [&] { d.showStep1(); }},
        {"05-step1-drop-accepting", [&] { hover("/SteamSetup.exe"); }},
        {"06-step1-drop-rejecting", [&] { hover("/notes.txt"); }},
        {"07-steam-ready", [&] { d.showSteamReady(); }},
        {"08-steam-launching", [&] { d.showSteamLaunching(); }},
        {"09-steam-running", [&] { d.showSteamRunning(); }},
        {"10-steam-launch-failed", [&] { d.showSteamLaunchFailed(); }},
        {"11-error", [&] { d.showError("Setup failed.\nPlease try again or use Repair."); }},
    };
    std::map<std::string, QImage> images;
    for (const auto& [name, show] : screens) {
        show();
        uitest::settle();
        d.spinner->stopAnimation();  // a still frame, so equal screens render equal
        const QImage image = d.window->grab().toImage();
        EXPECT_EQ(image.size(), QSize(360, 400) * d.window->devicePixelRatio());
        const QString file = QString::fromStdString(dir + "/" + name + ".png");
        ASSERT_TRUE(image.save(file, "PNG"));
        EXPECT_FALSE(QImage(file).isNull());
        for (const auto& [other, otherImage] : images)
            EXPECT_NE(image, otherImage) << name << " renders like " << other;
        images.emplace(name, image);
    }
}
