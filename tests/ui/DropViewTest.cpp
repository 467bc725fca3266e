#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QMimeData>
#include <QUrl>
#include <filesystem>

#include "app/DropView.h"
#include "support/TestHome.h"
#include "ui/UiSupport.h"

namespace {

const QColor restBorder = QColor::fromRgbF(0.3f, 0.3f, 0.3f);
const QColor hintColour = QColor::fromRgbF(0.45f, 0.45f, 0.45f);
const QColor red(255, 59, 48);
const QString hint = "Drop SteamSetup.exe here";

enum class Payload { files, text, webLink, folder };

struct DragCase {
    const char* name;
    Payload payload;
    std::vector<std::string> files;  // created under the test's tmp dir
    bool offered;                    // the drag is answered with copy
    QColor hoverBorder;
    QString hoverText;
    bool dropAccepted;
    int droppedIndex;  // which file reaches onDrop, -1 for none
};

const std::vector<DragCase>& cases() {
    static const std::vector<DragCase> all = {
        {"capitals", Payload::files, {"SETUP.EXE"}, true, Qt::white, hint, true, 0},
        {"text_file", Payload::files, {"notes.txt"}, true, red, "Wrong format: need .exe, not .txt", false, -1},
        {"mixed_case", Payload::files, {"Archive.Zip"}, true, red, "Wrong format: need .exe, not .Zip", false, -1},
        {"no_extension", Payload::files, {"SteamSetup"}, true, red, "Wrong format: need .exe, not .", false, -1},
        {"hidden_name", Payload::files, {".exe"}, true, red, "Wrong format: need .exe, not .", false, -1},
        {"exe_first_of_two", Payload::files, {"Steam Setup ü.exe", "readme.txt"}, true, Qt::white, hint, true, 0},
        {"txt_first_of_two",
         Payload::files,
         {"readme.txt", "SteamSetup.exe"},
         true,
         red,
         "Wrong format: need .exe, not .txt",
         false,
         -1},
        {"text_only", Payload::text, {}, false, restBorder, hint, false, -1},
        {"web_link", Payload::webLink, {}, false, restBorder, hint, false, -1},
        {"folder_named_exe", Payload::folder, {"x.exe"}, true, Qt::white, hint, true, 0},
    };
    return all;
}

std::unique_ptr<QMimeData> mimeFor(const DragCase& c, const std::vector<std::string>& paths) {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    switch (c.payload) {
    case Payload::files:
        for (const auto& p : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p)));
        mime->setUrls(urls);
        break;
    case Payload::folder:
        // A folder URL carries a trailing slash.
        mime->setUrls({QUrl::fromLocalFile(QString::fromStdString(paths.front()) + "/")});
        break;
    case Payload::text:
        mime->setText("/tmp/SteamSetup.exe");
        break;
    case Payload::webLink:
        mime->setUrls({QUrl("https://example.com/SteamSetup.exe")});
        break;
    }
    return mime;
}

struct Probe {
    DropView view;
    std::vector<std::string> dropped;
    Probe() {
        view.resize(300, 55);
        view.onDrop = [this](const std::string& path) { dropped.push_back(path); };
    }
    bool enter(const QMimeData* mime) {
        QDragEnterEvent event(QPoint(150, 27), Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &event);
        return event.isAccepted() && event.dropAction() == Qt::CopyAction;
    }
    void leave() {
        QDragLeaveEvent event;
        QCoreApplication::sendEvent(&view, &event);
    }
    bool drop(const QMimeData* mime) {
        QDropEvent event(QPointF(150, 27), Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &event);
        return event.isAccepted();
    }
    void expectAtRest() {
        EXPECT_EQ(view.borderColor(), restBorder);
        EXPECT_EQ(view.displayedText(), hint);
        EXPECT_EQ(view.textColor(), hintColour);
    }
};

class Drag : public ::testing::TestWithParam<size_t> {
protected:
    testsupport::TestHome home;
    std::vector<std::string> paths() {
        std::vector<std::string> out;
        for (const auto& name : cases()[GetParam()].files) {
            const std::string path = home.tmp() + "/" + name;
            if (cases()[GetParam()].payload == Payload::folder) {
                std::filesystem::create_directories(path);
            } else {
                testsupport::writeFile(path, "MZ");
            }
            out.push_back(path);
        }
        return out;
    }
};

}  // namespace

TEST_P(Drag, HoverShowsTheVerdictAndDropCallsOnDropOnlyForExe) {
    const DragCase& c = cases()[GetParam()];
    const auto files = paths();
    const auto mime = mimeFor(c, files);
    Probe probe;
    probe.expectAtRest();

    EXPECT_EQ(probe.enter(mime.get()), c.offered);
    EXPECT_EQ(probe.view.borderColor(), c.hoverBorder);
    EXPECT_EQ(probe.view.displayedText(), c.hoverText);
    EXPECT_EQ(probe.view.textColor(), probe.view.isShowingError() ? red : hintColour);

    EXPECT_EQ(probe.drop(mime.get()), c.dropAccepted);
    probe.expectAtRest();  // the drop ends any hover display, whatever its outcome
    if (c.droppedIndex >= 0) {
        EXPECT_EQ(probe.dropped, std::vector<std::string>{files[size_t(c.droppedIndex)]});
    } else {
        EXPECT_TRUE(probe.dropped.empty());
    }
}

TEST_P(Drag, LeavingRestoresTheRestingLook) {
    const DragCase& c = cases()[GetParam()];
    const auto files = paths();
    const auto mime = mimeFor(c, files);
    Probe probe;
    probe.enter(mime.get());
    probe.leave();
    probe.expectAtRest();
    EXPECT_TRUE(probe.dropped.empty());
}

INSTANTIATE_TEST_SUITE_P(DropView, Drag, ::testing::Range<size_t>(0, cases().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(cases()[info.param].name);
                         });

TEST(DropView, AcceptedDropWithoutReceiverIsStillAccepted) {
    testsupport::TestHome home;
    const std::string path = home.tmp() + "/SteamSetup.exe";
    testsupport::writeFile(path, "MZ");
    Probe probe;
    probe.view.onDrop = nullptr;
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    ASSERT_TRUE(probe.enter(&mime));
    EXPECT_TRUE(probe.drop(&mime));
    probe.expectAtRest();
}

TEST(DropView, ExtensionIsTheLastComponentsSuffixAsWritten) {
    struct Case {
        const char* path;
        const char* extension;
    };
    for (const Case& c : {Case{"/a/SteamSetup.exe", "exe"}, Case{"/a/Setup.EXE", "EXE"}, Case{"/a/b.tar.Gz", "Gz"},
                          Case{"/a.exe/setup", ""}, Case{"/a/x.exe/", "exe"}, Case{"/a/name.", ""},
                          Case{"/a/.profile", ""}, Case{"relative.Exe", "Exe"}}) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(DropView::extensionOf(c.path), QString(c.extension));
    }
}
