#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QUrl>
#include <filesystem>

#include "app/DropView.h"
#include "support/TestHome.h"

// Hovering shows the verdict; leaving or dropping ends it; only an .exe reaches onDrop.
TEST(DropView, VerdictsOnHoverAndDrop) {
    enum Payload { files, text, webLink, folder };
    const QColor rest = QColor::fromRgbF(0.3f, 0.3f, 0.3f), red(255, 59, 48), white(Qt::white);
    const struct {
        Payload payload;
        std::vector<std::string> files;  // created under the test's tmp dir
        QString verdict;                 // empty: the hint
        QColor border;
    } cases[] = {
        {files, {"SETUP.EXE"}, "", white},
        {files, {"Archive.Zip"}, "Wrong format: need .exe, not .Zip", red},
        {files, {".exe"}, "Wrong format: need .exe, not .", red},
        {files, {"x.exe/setup"}, "Wrong format: need .exe, not .", red},
        {files, {"Steam Setup ü.exe", "readme.txt"}, "", white},
        {files, {"readme.txt", "SteamSetup.exe"}, "Wrong format: need .exe, not .txt", red},
        {text, {}, "", rest},
        {webLink, {}, "", rest},
        {folder, {"x.exe"}, "", white},
    };
    testsupport::TestHome home;
    for (const auto& c : cases) {
        const std::string dir = home.tmp() + "/" + std::to_string(&c - cases);
        QMimeData mime;
        QList<QUrl> urls;
        std::vector<std::string> paths;
        for (const auto& name : c.files) {
            paths.push_back(dir + "/" + name);
            c.payload == folder ? (void)std::filesystem::create_directories(paths.back())
                                : testsupport::writeFile(paths.back(), "MZ");  // with its parents
            urls.push_back(
                QUrl::fromLocalFile(QString::fromStdString(paths.back()) + (c.payload == folder ? "/" : "")));
        }
        if (c.payload == text) mime.setText("/tmp/SteamSetup.exe");
        if (c.payload == webLink) urls.push_back(QUrl("https://example.com/SteamSetup.exe"));
        mime.setUrls(urls);
        SCOPED_TRACE(mime.urls().value(0).toString().toStdString());
        const bool accepted = c.border == white;

        for (const bool leave : {true, false}) {
            DropView view;
            std::vector<std::string> dropped;
            view.onDrop = [&](const std::string& path) { dropped.push_back(path); };
            QDragEnterEvent enter(QPoint(150, 27), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
            QCoreApplication::sendEvent(&view, &enter);
            EXPECT_EQ(enter.isAccepted() && enter.dropAction() == Qt::CopyAction, c.border != rest);
            EXPECT_EQ(view.borderColor(), c.border);
            EXPECT_EQ(view.displayedText(), c.verdict.isEmpty() ? "Drop SteamSetup.exe here" : c.verdict);
            if (leave) {
                QDragLeaveEvent event;
                QCoreApplication::sendEvent(&view, &event);
            } else {
                QDropEvent drop(QPointF(150, 27), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
                QCoreApplication::sendEvent(&view, &drop);
                EXPECT_EQ(drop.isAccepted(), accepted);
            }
            EXPECT_EQ(view.borderColor(), rest);
            EXPECT_EQ(view.displayedText(), "Drop SteamSetup.exe here");
            EXPECT_EQ(dropped, !leave && accepted ? std::vector<std::string>{paths[0]} : std::vector<std::string>{});
        }
    }
}
