#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QUrl>
#include <filesystem>

#include "app/DropView.h"
#include "support/TestHome.h"

namespace {

const QColor kRest = QColor::fromRgbF(0.3f, 0.3f, 0.3f), kHint = QColor::fromRgbF(0.45f, 0.45f, 0.45f),
             kRed(255, 59, 48), kWhite(Qt::white);
const QString kHintText = "Drop SteamSetup.exe here";

}  // namespace

TEST(DropView, HoverShowsTheVerdictAndOnlyAnExeReachesOnDrop) {
    enum Payload { files, text, webLink, folder };
    struct Case {
        Payload payload;
        std::vector<std::string> files;  // created under the test's tmp dir
        bool offered;
        QColor hoverBorder;
        QString hoverText;  // empty: the hint
        bool dropped;       // the first file reaches onDrop
    };
    // clang-format off
    const std::vector<Case> cases = {
        {files, {"SETUP.EXE"}, true, kWhite, "", true},
        {files, {"notes.txt"}, true, kRed, "Wrong format: need .exe, not .txt", false},
        {files, {"Archive.Zip"}, true, kRed, "Wrong format: need .exe, not .Zip", false},
        {files, {"SteamSetup"}, true, kRed, "Wrong format: need .exe, not .", false},
        {files, {".exe"}, true, kRed, "Wrong format: need .exe, not .", false},
        {files, {"Steam Setup ü.exe", "readme.txt"}, true, kWhite, "", true},
        {files, {"readme.txt", "SteamSetup.exe"}, true, kRed, "Wrong format: need .exe, not .txt", false},
        {text, {}, false, kRest, "", false},
        {webLink, {}, false, kRest, "", false},
        {folder, {"x.exe"}, true, kWhite, "", true},
    };
    // clang-format on
    testsupport::TestHome home;
    for (const Case& c : cases) {
        const std::string dir = home.tmp() + "/" + std::to_string(&c - cases.data());
        QMimeData mime;
        QList<QUrl> urls;
        std::vector<std::string> paths;
        for (const auto& name : c.files) {
            paths.push_back(dir + "/" + name);
            c.payload == folder ? (void)std::filesystem::create_directories(paths.back())
                                : testsupport::writeFile(paths.back(), "MZ");
            urls.push_back(
                QUrl::fromLocalFile(QString::fromStdString(paths.back()) + (c.payload == folder ? "/" : "")));
        }
        if (c.payload == text) mime.setText("/tmp/SteamSetup.exe");
        if (c.payload == webLink) urls.push_back(QUrl("https://example.com/SteamSetup.exe"));
        mime.setUrls(urls);
        SCOPED_TRACE(mime.urls().value(0).toString().toStdString());

        for (const bool leave : {true, false}) {
            DropView view;
            std::vector<std::string> dropped;
            view.onDrop = [&](const std::string& path) { dropped.push_back(path); };
            QDragEnterEvent enter(QPoint(150, 27), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
            QCoreApplication::sendEvent(&view, &enter);
            EXPECT_EQ(enter.isAccepted() && enter.dropAction() == Qt::CopyAction, c.offered);
            EXPECT_EQ(view.borderColor(), c.hoverBorder);
            EXPECT_EQ(view.displayedText(), c.hoverText.isEmpty() ? kHintText : c.hoverText);
            EXPECT_EQ(view.textColor(), c.hoverBorder == kRed ? kRed : kHint);
            if (leave) {
                QDragLeaveEvent event;
                QCoreApplication::sendEvent(&view, &event);
            } else {
                QDropEvent drop(QPointF(150, 27), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
                QCoreApplication::sendEvent(&view, &drop);
                EXPECT_EQ(drop.isAccepted(), c.dropped);
            }
            // Leaving or dropping ends the hover display, whatever the outcome.
            EXPECT_EQ(view.borderColor(), kRest);
            EXPECT_EQ(view.displayedText(), kHintText);
            EXPECT_EQ(dropped, !leave && c.dropped ? std::vector<std::string>{paths[0]} : std::vector<std::string>{});
        }
    }
}

TEST(DropView, ExtensionIsTheLastComponentsSuffixAsWritten) {
    for (const auto& [path, extension] : std::vector<std::pair<const char*, const char*>>{{"/a/SteamSetup.exe", "exe"},
                                                                                          {"/a/Setup.EXE", "EXE"},
                                                                                          {"/a/b.tar.Gz", "Gz"},
                                                                                          {"/a.exe/setup", ""},
                                                                                          {"/a/x.exe/", "exe"},
                                                                                          {"/a/name.", ""},
                                                                                          {"/a/.profile", ""},
                                                                                          {"relative.Exe", "Exe"}}) {
        EXPECT_EQ(DropView::extensionOf(path), QString(extension)) << path;
    }
}
