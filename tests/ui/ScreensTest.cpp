// Every screen and state as a text dump compared with tests/golden/screens, and a PNG
// of each into $FERROWICK_SCREENSHOT_DIR when set (scripts/screenshots), else the test's tmp dir.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAccessible>
#include <QCheckBox>
#include <QGuiApplication>
#include <QImage>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleOptionButton>
#include <cmath>

#include "app/DropView.h"
#include "app/Spinner.h"
#include "platform/Subprocess.h"
#include "support/GoldenLog.h"
#include "ui/UiSupport.h"

namespace {

// Greys as levels with two decimals, as the window's colours are given.
QString colour(const QColor& c) {
    if (c.red() != c.green() || c.green() != c.blue()) return c.name();
    return c.red() == 255 ? "white" : QString::asprintf("grey %.2f", c.red() / 255.0);
}

QString quoted(QString text) {
    return "\"" + text.replace('\n', "\\n") + "\"";
}

// The font, colour and text of a control, as the controls table lists them.
QString font(const QFont& f) {
    const QMap<int, QString> weights = {
        {QFont::Normal, "regular"}, {QFont::Medium, "medium"}, {QFont::DemiBold, "semibold"}, {QFont::Bold, "bold"}};
    return QString("system %1 %2").arg(f.pixelSize()).arg(weights.value(f.weight(), QString::number(f.weight())));
}
QString looks(const QFont& f, const QColor& c, const QString& text) {
    return font(f) + "  text " + colour(c) + "  " + quoted(text);
}

// WCAG contrast of two sRGB colours.
QString contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return QString::asprintf("%.1f:1", (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05));
}

// Where the drop zone's text ink lies inside its border against the zone's centre (fonts differ).
QString inkPlacement(const QImage& shot, const QRect& zone, qreal dpr) {
    const QRect area(QPoint(int(zone.left() * dpr), int(zone.top() * dpr)), zone.size() * dpr);
    const int inset = int(4 * dpr);
    const QRgb ground = shot.pixel(area.center().x(), area.top() + inset);
    QRect ink;
    for (int y = area.top() + inset; y <= area.bottom() - inset; ++y)
        for (int x = area.left() + inset; x <= area.right() - inset; ++x)
            if (shot.pixel(x, y) != ground) ink |= QRect(x, y, 1, 1);
    if (ink.isNull()) return "no text";
    const double dx = ((ink.left() - area.left()) - (area.right() - ink.right())) / 2.0 / dpr;
    const double dy = ((ink.top() - area.top()) - (area.bottom() - ink.bottom())) / 2.0 / dpr;
    if (std::abs(dx) <= 2 && std::abs(dy) <= 3) return "text centred";
    return QString::asprintf("text off centre by %.0f, %.0f", dx, -dy);
}

QString describe(QWidget& w, const QImage& shot, qreal dpr, const QColor& background) {
    const bool shown = w.isVisibleTo(w.window());
    const QRect g = w.geometry();
    QStringList fields = {
        w.objectName().leftJustified(17) + (shown ? " shown " : " hidden"),
        QString::asprintf("%d, %d, %d, %d", g.x(), w.window()->height() - g.y() - g.height(), g.width(), g.height())};
    auto pixel = [&](QPoint p) { return shot.pixelColor(int(p.x() * dpr), int(p.y() * dpr)); };
    if (auto* label = qobject_cast<QLabel*>(&w); label && !label->pixmap().isNull()) {
        const QPixmap icon = label->pixmap();
        fields << QString::asprintf("image %dx%d @%gx", icon.width(), icon.height(), icon.devicePixelRatio());
    } else if (label) {
        fields << font(label->font()) << "text " + colour(label->palette().color(QPalette::WindowText))
               << (label->alignment() == Qt::AlignCenter ? "centred" : "aligned " + QString::number(label->alignment()))
               << (label->textFormat() == Qt::PlainText ? "plain" : "markup " + QString::number(label->textFormat()));
        if (label->wordWrap()) fields << "wraps";
        fields << quoted(label->text());
    } else if (auto* spinner = qobject_cast<Spinner*>(&w)) {
        fields << (spinner->isAnimating() ? "animating" : "still");
    } else if (auto* bar = qobject_cast<QProgressBar*>(&w)) {
        fields << QString::asprintf("value %.2f",
                                    double(bar->value() - bar->minimum()) / (bar->maximum() - bar->minimum()));
    } else if (auto* drop = qobject_cast<DropView*>(&w)) {
        fields << looks(drop->textFont(), drop->textColor(), drop->displayedText());
        if (shown) fields << "border " + colour(pixel({g.left() + 1, g.center().y()})) << inkPlacement(shot, g, dpr);
    } else if (auto* box = qobject_cast<QCheckBox*>(&w)) {
        fields << looks(box->font(), box->palette().color(QPalette::WindowText), box->text())
               << (box->isChecked() ? "on" : "off");
        if (shown) {
            QStyleOptionButton option;
            option.initFrom(box);
            const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
            const QColor outline = pixel({g.left() + indicator.left(), g.top() + indicator.center().y()});
            fields << "box outline " + colour(outline) + " (" + contrast(outline, background) + ")";
        }
    } else if (auto* button = qobject_cast<QPushButton*>(&w)) {
        fields << looks(button->font(), button->palette().color(QPalette::ButtonText), button->text());
        if (button->isFlat()) fields << "flat";
    } else {
        fields << w.metaObject()->className();
    }
    if (qobject_cast<QAbstractButton*>(&w) || qobject_cast<DropView*>(&w)) {
        const QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(&w);
        fields << QString(w.focusPolicy() & Qt::TabFocus ? "tab" : "no tab") + "  a11y " +
                      quoted(a11y ? a11y->text(QAccessible::Name) : QString());
    }
    return fields.join("  ") + "\n";
}

// One line per control in stacking order, frames in bottom-left-origin window points; the drop
// zone's border and text centring and the check box's outline are measured on a rendering.
std::string screenDump(QWidget& window) {
    const QColor background = window.palette().color(QPalette::Window);
    const QImage shot = window.grab().toImage();
    QString dump = QString::asprintf("window            %d x %d  title ", window.width(), window.height()) +
                   quoted(window.windowTitle()) + "  background " + colour(background) + "\n";
    for (QWidget* w : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        dump += describe(*w, shot, shot.devicePixelRatio(), background);
    return dump.toStdString();
}

void expectScreen(const std::string& name, QWidget& window) {
    testsupport::expectGolden("screens/" + name + ".txt", screenDump(window));
}

}  // namespace

TEST(ScreenDumps, EveryScreenAndState) {
    uitest::Launcher launcher;
    launcher.buildWindow();
    AppDelegate& d = launcher.d();
    const char* env = ::getenv("FERROWICK_SCREENSHOT_DIR");
    const std::string dir = env && *env ? env : launcher.home.tmp();
    // Each step, then its screen; all() first puts every control on show: a screen hides what it does not own.
    const auto all = [&] {
        for (QWidget* w : d.window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) w->show();
    };
    const std::string error = "Could not read <b>C:\\users</b> & <i>system.reg</i>";  // shown as it is, not as markup
    QMimeData link, accepted, rejected;  // a web link with text, then files: the first one is judged
    link.setUrls({QUrl("https://example.com/SteamSetup.exe")}), link.setText("/tmp/SteamSetup.exe");
    const std::string ok = launcher.home.tmp() + "/Steam Setup ü.exe", txt = launcher.home.tmp() + "/readme.txt";
    const std::pair<std::string, std::function<void()>> steps[] = {
        {"00-startup", [] {}},
        {"01-agreement", [&] { d.eulaCheck1->setChecked(true), all(), d.showEula(); }},
        {"02-agreement-ticked", [&] { d.eulaCheck1->click(); }},
        {"03-agreement-continue-unticked", [&] { d.eulaCheck1->click(), d.eulaAcceptButton->click(); }},
        {"04-loading", [&] { all(), d.showLoading("Preparing environment..."); }},
        {"05-download-0", [&] { all(), d.showDownload(); }},
        {"06-download-42", [&] { d.showDownloadProgress(0.42, "Setting up... 42%"); }},
        {"07-step1", [&] { all(), d.showStep1(); }},
        // The drop zone: no files, no verdict; a leave or a drop ends one, and a rejected drop is not taken.
        {"07-step1", [&] { EXPECT_FALSE(uitest::enterDrag(d.dropZone, link, {})); }},
        {"09-step1-rejecting",
         [&] {
             EXPECT_TRUE(uitest::enterDrag(d.dropZone, rejected, {txt, ok}));
         }},
        {"07-step1", [&] { uitest::endDrag(d.dropZone); }},
        {"08-step1-accepting",
         [&] {
             uitest::enterDrag(d.dropZone, accepted, {ok, txt});
         }},
        {"07-step1", [&] { uitest::endDrag(d.dropZone); }},
        {"09-step1-rejecting", [&] { uitest::enterDrag(d.dropZone, rejected, {}); }},
        {"07-step1", [&] { EXPECT_FALSE(uitest::endDrag(d.dropZone, &rejected)); }},
        {"10-steam-ready", [&] { all(), d.showSteamReady(); }},
        {"11-steam-launching", [&] { all(), d.showSteamLaunching(); }},
        {"12-steam-running", [&] { all(), d.showSteamRunning(); }},
        {"13-steam-launch-failed", [&] { all(), d.showSteamLaunchFailed(); }},
        {"14-error", [&] { all(), d.showError(error); }},
    };
    for (const auto& [name, step] : steps) {
        step(), uitest::settle();
        SCOPED_TRACE(name);
        expectScreen(name, *d.window);
        EXPECT_TRUE(d.window->grab().save(QString::fromStdString(dir + "/" + name + ".png"), "PNG"));
    }
    EXPECT_TRUE(
        testsupport::readFile(Constants::supportDir() + "/launcher.log").ends_with("] [ERROR] " + error + "\n"));

    // From any thread the last request wins, and nothing runs once the controller is gone.
    std::thread([&d] { d.showSteamRunning(), d.showError("Not enough disk space."), d.showSteamReady(); }).join();
    uitest::settle();
    expectScreen("10-steam-ready", *d.window);
    d.showSteamReady();
    auto onDrop = d.dropZone->onDrop;
    launcher.delegate.reset();
    uitest::settle();                            // the dropped screen must not touch the destroyed controls
    onDrop(launcher.home.tmp() + "/after.exe");  // nor a drop reach the destroyed controller
}

// At a scale factor of 2 (every Retina screen) the icon has twice the pixels; Qt reads the
// factor once per process, so the test runs itself again with it. Without the icon resource
// the window opens without it and nothing else moves.
TEST(ScreenDumps, StartupAtScaleTwoAndWithoutTheIcon) {
    uitest::Launcher launcher;
    if (qGuiApp->devicePixelRatio() == 2.0)
        return launcher.buildWindow(), expectScreen("00-startup-scale-2", *launcher.d().window);
    auto environment = platform::currentEnvironment();
    environment["QT_SCALE_FACTOR"] = "2";
    const auto child = platform::Subprocess::run({uitest::thisTestProgram(),
                                                  {"--gtest_filter=ScreenDumps.StartupAtScaleTwoAndWithoutTheIcon"},
                                                  environment,
                                                  platform::OutputMode::Pipe});
    ASSERT_TRUE(child);
    EXPECT_TRUE(child->exit.status == 0 && child->output.find("[  PASSED  ] 1 test") != std::string::npos)
        << child->output;
    std::filesystem::remove(launcher.home.bundle() + "/AppIcon.png");
    launcher.buildWindow();
    expectScreen("00-startup-no-icon", *launcher.d().window);
}
