// Whole runs against the fake Wine runtime: the first start, a dropped installer, repair.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDragEnterEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "app/DropView.h"
#include "platform/Sha256.h"
#include "platform/Subprocess.h"
#include "support/FakeWine.h"
#include "support/GraphicsBundle.h"
#include "support/HttpTestServer.h"
#include "ui/UiSupport.h"

namespace fs = std::filesystem;
using uitest::inOrder;
using Texts = std::vector<std::string>;

namespace {

const std::string kStep1 = "Step 1: Install Steam\nDownload Steam for Windows (.exe),\nthen drag the installer below.";

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

TEST(SetupFlow, AFirstStartDownloadsTheRuntimeThenRunsSetupAgain) {
    SetupRun run;
    // The fake runtime packed the way the runtime archive is laid out; only the download brings it back.
    const std::string tree = run.launcher.home.tmp() + "/tree", archive = run.launcher.home.tmp() + "/wine.tar.xz";
    fs::create_directories(tree + "/Wine Staging.app/Contents/Resources");
    fs::copy(Constants::wineDir(), tree + "/Wine Staging.app/Contents/Resources/wine", fs::copy_options::recursive);
    const auto packed = platform::Subprocess::run(
        {"/usr/bin/tar", {"-cJf", archive, "-C", tree, "Wine Staging.app"}, {{"PATH", "/usr/bin:/bin"}}});
    ASSERT_TRUE(packed && packed->exit.status == 0);
    fs::remove_all(Constants::wineDir());
    // Left by a launcher killed between setting its old runtime aside and moving the new one in.
    const std::string leftovers[] = {"/.wine-download-Ab12Cd", "/wine-staging-11.4-osx64.tar.xz",
                                     "/wine.partial/Wine Staging.app/Contents/Info.plist", "/wine.old/bin/wine"};
    for (const std::string& leftover : leftovers) testsupport::writeFile(Constants::supportDir() + leftover, "left");
    testsupport::HttpTestServer server({.filePath = archive});
    auto settings = WineDownloader::Settings::defaults();
    settings.downloadURL = server.url();
    settings.expectedSHA256 = platform::Sha256::hex(testsupport::readFile(archive));
    run.launcher.d().wineDownloader = std::make_unique<WineDownloader>(settings);
    // Space is asked for where the launcher keeps its files; other arguments fail the run.
    run.launcher.d().checkDiskSpace = [](const std::string& path, int64_t gb) {
        return path == Constants::supportDir() && gb == 2;
    };

    run.launcher.launch();
    ASSERT_TRUE(run.endsOn(kStep1));
    EXPECT_TRUE(inOrder(run.screens.texts,
                        {"Checking system...", "First-time setup in progress.\nThis may take a few minutes.",
                         "Setting up... *", "Checking system...", "Preparing environment...", "Creating Wine prefix...",
                         "Installing components...", "Configuring environment...", kStep1}))
        << ::testing::PrintToString(run.screens.texts);
    for (const std::string& leftover : leftovers) {
        const std::string top = Constants::supportDir() + leftover.substr(0, leftover.find('/', 1));
        EXPECT_FALSE(fs::exists(top)) << top;
    }
}

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

namespace {

// Answers the next modal alert (the repair's question) with the button titled `answer` once it is up.
void answerNextAlert(const QString& answer) {
    QTimer::singleShot(20, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return answerNextAlert(answer);
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == answer) button->click();
        }
    });
}

}  // namespace

TEST(SetupFlow, RepairAsksFirstThenRebuildsThePrefix) {
    SetupRun run;
    run.launcher.buildWindow();
    PrefixManager prefix;
    ASSERT_TRUE(prefix.createPrefix(nullptr) && prefix.deployMesaDLLs(nullptr));
    const std::string steam = Constants::prefixPath() + Constants::steamExeUnix;
    testsupport::writeFile(steam, "installed\n");
    const size_t before = run.wine.calls("wineserver").size();  // prefix creation waits on the server
    answerNextAlert("Cancel");
    run.launcher.d().onRepair();
    uitest::settle();
    EXPECT_TRUE(run.wine.calls("wineserver").size() == before && fs::exists(steam)) << "cancel touches nothing";

    answerNextAlert("Repair");
    run.launcher.d().onRepair();
    ASSERT_TRUE(run.endsOn(kStep1));
    EXPECT_TRUE(inOrder(run.screens.texts, {"Repairing installation...", "Creating Wine prefix...", kStep1}));
    EXPECT_EQ(run.wine.calls("wineserver").at(before).args, Texts{"-k"});
    EXPECT_FALSE(fs::exists(steam));
    for (const auto& entry : fs::directory_iterator(Constants::supportDir())) {
        EXPECT_EQ(entry.path().filename().string().find("prefix.backup"), std::string::npos) << "backup left";
    }
}
