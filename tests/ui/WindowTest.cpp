#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include "app/DropView.h"
#include "ui/UiSupport.h"

using uitest::Launcher;

namespace {

QColor grey(double g) {
    return QColor::fromRgbF(float(g), float(g), float(g));
}

}  // namespace

class WindowControls : public ::testing::TestWithParam<bool> {};

// With the icon, or with an unreadable one that is left out and moves nothing.
TEST_P(WindowControls, HaveTheirFramesTextsFontsAndColours) {
    struct Control {
        const char* name;
        QRect frame;  // top-left origin, converted by hand from the bottom-left frames
        const char* text;
        int pixelSize;
        QFont::Weight weight;
        QColor color;  // invalid: not checked
    };
    const QColor white(Qt::white), none;
    // clang-format off
    const std::vector<Control> controls = {
        {"appIcon", {148, 32, 64, 64}, "", 0, QFont::Normal, none},
        {"productTitle", {30, 106, 300, 24}, "Ferrowick", 18, QFont::DemiBold, white},
        {"statusLabel", {20, 165, 320, 60}, "Checking system...", 13, QFont::Normal, grey(0.55)},
        {"spinner", {168, 236, 24, 24}, "", 0, QFont::Normal, none},
        {"progressBar", {40, 254, 280, 6}, "", 0, QFont::Normal, none},
        {"mainButton", {80, 247, 200, 38}, "Open Steam", 15, QFont::Medium, white},
        {"downloadButton", {90, 253, 180, 32}, "Download Steam \u2197", 12, QFont::Medium, none},
        {"dropZone", {30, 300, 300, 55}, "", 0, QFont::Normal, none},
        {"repairButton", {145, 366, 70, 22}, "Repair", 11, QFont::Normal, grey(0.45)},
        {"eulaCheck1", {40, 249, 280, 36}, "I agree to the End User License Agreement\nand Privacy Policy.", 12,
         QFont::Normal, grey(0.55)},
        {"eulaAcceptButton", {110, 303, 140, 32}, "Continue", 14, QFont::Medium, white},
        {"eulaLinkButton", {100, 360, 60, 18}, "EULA", 11, QFont::Normal, grey(0.55)},
        {"privacyLink", {170, 360, 100, 18}, "Privacy Policy", 11, QFont::Normal, grey(0.55)},
    };
    // clang-format on
    const bool withIcon = GetParam();
    Launcher launcher(withIcon);
    if (!withIcon) testsupport::writeFile(launcher.home.bundle() + "/AppIcon.png", "not an image");
    launcher.buildWindow();
    auto& window = *launcher.d().window;
    const auto children = window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), qsizetype(controls.size() - !withIcon));
    for (qsizetype i = 0; i < children.size(); ++i) {  // in stacking order
        QWidget* w = children[i];
        const Control& c = controls[size_t(i + !withIcon)];
        EXPECT_EQ(w->objectName().toStdString(), c.name);
        EXPECT_EQ(w->geometry(), c.frame);
        auto* label = qobject_cast<QLabel*>(w);
        if (*c.text) {
            EXPECT_EQ(label ? label->text() : qobject_cast<QAbstractButton*>(w)->text(), c.text);
            EXPECT_EQ(std::pair(w->font().pixelSize(), w->font().weight()), std::pair(c.pixelSize, c.weight));
        }
        const auto role = qobject_cast<QPushButton*>(w) ? QPalette::ButtonText : QPalette::WindowText;
        EXPECT_EQ(c.color.isValid() ? w->palette().color(role) : c.color, c.color);
    }
    EXPECT_TRUE(window.isVisible() && window.windowTitle().isEmpty());
    EXPECT_EQ(window.minimumSize(), QSize(360, 400));
    EXPECT_EQ(window.maximumSize(), QSize(360, 400));
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window.palette().color(QPalette::Window), grey(0.11));
    EXPECT_EQ(uitest::visibleControls(launcher.d()).size(), 3u + withIcon) << "icon, title, status, spinner";
}

INSTANTIATE_TEST_SUITE_P(Window, WindowControls, ::testing::Bool());

TEST(Window, ADropOnTheZoneRunsTheInstallerAndNothingOnceTheControllerIsGone) {
    Launcher launcher;
    launcher.buildWindow();
    const std::string path = launcher.home.tmp() + "/Steam Setup ü.exe";
    testsupport::writeFile(path, "MZ");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(launcher.d().dropZone, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(launcher.d().dropZone, &drop);
    EXPECT_TRUE(drop.isAccepted());
    // No Wine runtime is installed: the installer cannot start.
    ASSERT_TRUE(
        uitest::pumpUntil([&] { return launcher.status() == "Could not run the installer.\nPlease try again."; }));
    EXPECT_TRUE(uitest::inOrder(uitest::logLines(), {"INFO User dropped installer: " + path}));

    auto onDrop = launcher.d().dropZone->onDrop;
    launcher.delegate.reset();
    const std::string after = launcher.home.tmp() + "/after.exe";
    onDrop(after);  // must neither crash nor log
    EXPECT_FALSE(uitest::inOrder(uitest::logLines(), {"INFO User dropped installer: " + after}));
}
