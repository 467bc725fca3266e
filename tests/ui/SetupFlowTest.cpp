// A dropped installer through the window's drop zone, run under the fake Wine runtime.
#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QMimeData>
#include <QUrl>

#include "app/DropView.h"
#include "support/FakeWine.h"
#include "support/GraphicsBundle.h"
#include "ui/UiSupport.h"

using uitest::inOrder;
using Texts = std::vector<std::string>;

namespace {

// A launcher past the agreement, with the bundle's graphics DLLs and the fake Wine runtime.
struct SetupRun {
    SetupRun() { testsupport::writeFile(Constants::eulaAcceptedFile(), ""); }
    bool endsOn(const std::string& text) {
        return uitest::pumpUntil([&] { return screens.texts.back() == text; });
    }
    uitest::Launcher launcher;
    testsupport::GraphicsBundle bundle{launcher.home.bundle()};
    testsupport::FakeWine wine;
    uitest::StatusRecorder screens{launcher.d()};
};

}  // namespace

// Through the window's own drop zone to the installer under Wine and back.
TEST(SetupFlow, ADroppedInstallerRunsUnderWineAndEndsOnReady) {
    SetupRun run;
    run.launcher.buildWindow();
    run.wine.set("run.steam", "1");
    const std::string dropped = run.launcher.home.tmp() + "/Steam Setup ü.exe";
    testsupport::writeFile(dropped, "MZ");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(run.launcher.d().dropZone, &enter);  // a drop goes where the drag entered
    QCoreApplication::sendEvent(run.launcher.d().dropZone, &drop);
    ASSERT_TRUE(run.endsOn("Launch Quillmoor from\nyour Steam Library."));
    EXPECT_TRUE(inOrder(run.screens.texts, {"Installing Steam...\nComplete the setup in the Steam window."}));
    EXPECT_EQ(run.wine.calls("wine").at(0).args, Texts{Constants::supportDir() + "/SteamSetup.exe"});
}
