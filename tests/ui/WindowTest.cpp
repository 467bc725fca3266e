#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include "app/DropView.h"
#include "app/Spinner.h"
#include "ui/UiSupport.h"

using uitest::Launcher;

namespace {

QColor grey(double g) {
    return QColor::fromRgbF(float(g), float(g), float(g));
}

struct ControlCase {
    const char* name;
    QRect frame;  // top-left origin
    const char* text;
    int pixelSize;
    QFont::Weight weight;
    std::optional<QColor> textColor;
};

// Every control of the window, in stacking order, with the frame it must
// occupy in Qt's top-left coordinates (bottom-left frames converted by hand).
const std::vector<ControlCase>& controls() {
    static const std::vector<ControlCase> cases = {
        {"appIcon", {148, 32, 64, 64}, nullptr, 0, QFont::Normal, std::nullopt},
        {"productTitle", {30, 106, 300, 24}, "Ferrowick", 18, QFont::DemiBold, QColor(Qt::white)},
        {"statusLabel", {20, 165, 320, 60}, "Checking system...", 13, QFont::Normal, grey(0.55)},
        {"spinner", {168, 236, 24, 24}, nullptr, 0, QFont::Normal, std::nullopt},
        {"progressBar", {40, 254, 280, 6}, nullptr, 0, QFont::Normal, std::nullopt},
        {"mainButton", {80, 247, 200, 38}, "Open Steam", 15, QFont::Medium, QColor(Qt::white)},
        {"downloadButton", {90, 253, 180, 32}, "Download Steam \u2197", 12, QFont::Medium, std::nullopt},
        {"dropZone", {30, 300, 300, 55}, nullptr, 0, QFont::Normal, std::nullopt},
        {"repairButton", {145, 366, 70, 22}, "Repair", 11, QFont::Normal, grey(0.45)},
        {"eulaCheck1",
         {40, 249, 280, 36},
         "I agree to the End User License Agreement\nand Privacy Policy.",
         12,
         QFont::Normal,
         grey(0.55)},
        {"eulaAcceptButton", {110, 303, 140, 32}, "Continue", 14, QFont::Medium, QColor(Qt::white)},
        {"eulaLinkButton", {100, 360, 60, 18}, "EULA", 11, QFont::Normal, grey(0.55)},
        {"privacyLink", {170, 360, 100, 18}, "Privacy Policy", 11, QFont::Normal, grey(0.55)},
    };
    return cases;
}

QString textOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    return {};
}

QColor textColorOf(QWidget* w) {
    return w->palette().color(qobject_cast<QPushButton*>(w) ? QPalette::ButtonText : QPalette::WindowText);
}

}  // namespace

TEST(Window, ControlsHaveTheirFramesTextsFontsAndColoursInStackingOrder) {
    Launcher launcher;
    launcher.buildWindow();
    std::vector<std::string> order;
    for (QWidget* w : launcher.d().window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        order.push_back(w->objectName().toStdString());
    }
    std::vector<std::string> expectedOrder;
    for (const auto& c : controls()) expectedOrder.push_back(c.name);
    EXPECT_EQ(order, expectedOrder);

    for (const auto& c : controls()) {
        SCOPED_TRACE(c.name);
        auto* w = launcher.d().window->findChild<QWidget*>(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), c.frame);
        if (c.text) {
            EXPECT_EQ(textOf(w), QString::fromUtf8(c.text));
            EXPECT_EQ(w->font().pixelSize(), c.pixelSize);
            EXPECT_EQ(w->font().weight(), c.weight);
        }
        if (c.textColor) {
            EXPECT_EQ(textColorOf(w), *c.textColor);
        }
    }
}

TEST(Window, IsAFixedDarkUntitledWindowWithoutMaximise) {
    Launcher launcher;
    launcher.buildWindow();
    auto& window = *launcher.d().window;
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.size(), QSize(360, 400));
    EXPECT_EQ(window.minimumSize(), QSize(360, 400));
    EXPECT_EQ(window.maximumSize(), QSize(360, 400));
    EXPECT_TRUE(window.windowTitle().isEmpty());
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(window.palette().color(QPalette::Window), grey(0.11));
    EXPECT_TRUE(window.autoFillBackground());
}

class AfterConstruction : public ::testing::TestWithParam<bool> {};

TEST_P(AfterConstruction, OnlyIconTitleStatusAndSpinnerShow) {
    const bool withIcon = GetParam();
    Launcher launcher(withIcon);
    launcher.buildWindow();
    std::vector<std::string> visible = {"productTitle", "statusLabel", "spinner"};
    if (withIcon) visible.insert(visible.begin(), "appIcon");
    EXPECT_EQ(uitest::visibleControls(launcher.d()), visible);
    EXPECT_EQ(launcher.d().statusLabel->text(), "Checking system...");
    EXPECT_TRUE(launcher.d().spinner->isAnimating());
    // Leaving the icon out moves nothing else.
    EXPECT_EQ(launcher.d().window->findChild<QWidget*>("productTitle")->geometry(), QRect(30, 106, 300, 24));
    EXPECT_EQ(launcher.d().statusLabel->geometry(), QRect(20, 165, 320, 60));
    EXPECT_EQ(launcher.d().repairButton->geometry(), QRect(145, 366, 70, 22));
    EXPECT_EQ(launcher.d().progressBar->value(), 0);
    EXPECT_TRUE(launcher.d().statusLabel->wordWrap());
}

INSTANTIATE_TEST_SUITE_P(Window, AfterConstruction, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "with_icon" : "without_icon");
});

TEST(Window, UnreadableIconIsLeftOut) {
    Launcher launcher(false);
    testsupport::writeFile(launcher.home.bundle() + "/AppIcon.icns", "not an image");
    testsupport::writeFile(launcher.home.bundle() + "/AppIcon.png", "not an image either");
    launcher.buildWindow();
    EXPECT_EQ(launcher.d().window->findChild<QWidget*>("appIcon"), nullptr);
    EXPECT_EQ(uitest::visibleControls(launcher.d()),
              (std::vector<std::string>{"productTitle", "statusLabel", "spinner"}));
}

TEST(Window, DropOnTheZoneReachesTheControllerAndNothingOnceItIsGone) {
    Launcher launcher;
    launcher.buildWindow();
    const std::string path = launcher.home.tmp() + "/Steam Setup ü.exe";
    testsupport::writeFile(path, "MZ");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    DropView* zone = launcher.d().dropZone;
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(zone, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(zone, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_TRUE(uitest::logContains("[INFO] User dropped installer: " + path));

    auto onDrop = zone->onDrop;
    ASSERT_TRUE(onDrop);

    launcher.delegate.reset();
    onDrop(launcher.home.tmp() + "/after.exe");  // must neither crash nor log
    EXPECT_FALSE(uitest::logContains("after.exe"));
}

TEST(MainQueue, UiNeverRunsInlineAndKeepsOrder) {
    std::vector<int> ran;
    AppDelegate::ui([&] { ran.push_back(1); });
    AppDelegate::ui([&] { ran.push_back(2); });
    EXPECT_TRUE(ran.empty());
    uitest::settle();
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}
