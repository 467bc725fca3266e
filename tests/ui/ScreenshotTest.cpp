// Renders every screen to a PNG. The images go to $FERROWICK_SCREENSHOT_DIR
// when set (scripts/screenshots), else into the test's own temporary dir.
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

using uitest::Launcher;

namespace {

std::string outputDir(const testsupport::TestHome& home) {
    const char* dir = ::getenv("FERROWICK_SCREENSHOT_DIR");
    return dir != nullptr && *dir != '\0' ? std::string(dir) : home.tmp();
}

// Number of pixels that differ between two images of the same size.
int differingPixels(const QImage& a, const QImage& b) {
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) count += a.pixel(x, y) != b.pixel(x, y);
    }
    return count;
}

void hoverDropZone(DropView* zone, const std::string& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(zone, &enter);
}

}  // namespace

TEST(Screenshots, EveryScreenRendersDistinctly) {
    Launcher launcher;
    launcher.buildWindow();
    AppDelegate& d = launcher.d();
    const std::string dir = outputDir(launcher.home);

    const std::vector<std::pair<std::string, std::function<void()>>> screens = {
        {"01-startup", [] {}},
        {"02-eula", [&] { d.showEula(); }},
        {"03-loading", [&] { d.showLoading("Preparing environment..."); }},
        {"04-step1", [&] { d.showStep1(); }},
        {"05-step1-drop-accepting", [&] { hoverDropZone(d.dropZone, launcher.home.tmp() + "/SteamSetup.exe"); }},
        {"06-step1-drop-rejecting", [&] { hoverDropZone(d.dropZone, launcher.home.tmp() + "/notes.txt"); }},
        {"07-steam-ready", [&] { d.showSteamReady(); }},
        {"08-steam-launching", [&] { d.showSteamLaunching(); }},
        {"09-steam-running", [&] { d.showSteamRunning(); }},
        {"10-steam-launch-failed", [&] { d.showSteamLaunchFailed(); }},
        {"11-error", [&] { d.showError("Setup failed.\nPlease try again or use Repair."); }},
    };
    std::map<std::string, QImage> images;
    for (const auto& [name, show] : screens) {
        SCOPED_TRACE(name);
        show();
        uitest::settle();
        d.spinner->stopAnimation();  // a still frame, so equal screens render equal
        const QImage image = d.window->grab().toImage();
        EXPECT_EQ(image.size(), QSize(360, 400) * d.window->devicePixelRatio());
        const std::string file = dir + "/" + name + ".png";
        ASSERT_TRUE(image.save(QString::fromStdString(file), "PNG"));
        EXPECT_FALSE(QImage(QString::fromStdString(file)).isNull());
        for (const auto& [other, otherImage] : images) {
            EXPECT_GT(differingPixels(image, otherImage), 0) << name << " renders like " << other;
        }
        images.emplace(name, image);
    }
}
