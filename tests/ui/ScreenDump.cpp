#include "ui/ScreenDump.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAccessible>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleOptionButton>
#include <cmath>
#include <filesystem>

#include "app/DropView.h"
#include "app/Spinner.h"
#include "platform/Subprocess.h"
#include "support/TestHome.h"

namespace uitest {
namespace {

// Greys as levels with two decimals, as the window's colours are given.
QString colour(const QColor& c) {
    if (c.red() != c.green() || c.green() != c.blue()) return c.name();
    return c.red() == 255 ? "white" : QString::asprintf("grey %.2f", c.red() / 255.0);
}

QString quoted(QString text) {
    return "\"" + text.replace('\n', "\\n") + "\"";
}

QString font(const QFont& f) {
    const QMap<int, QString> weights = {
        {QFont::Normal, "regular"}, {QFont::Medium, "medium"}, {QFont::DemiBold, "semibold"}, {QFont::Bold, "bold"}};
    return QString("system %1 %2").arg(f.pixelSize()).arg(weights.value(f.weight(), QString::number(f.weight())));
}

// The font, colour and text of a control, as the controls table lists them.
QString looks(const QFont& f, const QColor& c, const QString& text) {
    return font(f) + "  text " + colour(c) + "  " + quoted(text);
}

QString keyboard(QWidget& w) {
    const QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(&w);
    return QString(w.focusPolicy() & Qt::TabFocus ? "tab" : "no tab") + "  a11y " +
           quoted(a11y ? a11y->text(QAccessible::Name) : QString());
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

// Where the drop zone's text lies on screen: the ink inside its border,
// compared with the zone's centre (fonts differ, so only the centring is kept).
QString inkPlacement(const QImage& shot, const QRect& zone, qreal dpr) {
    const QRect area(QPoint(int(zone.left() * dpr), int(zone.top() * dpr)), zone.size() * dpr);
    const int inset = int(4 * dpr);
    const QRgb ground = shot.pixel(area.center().x(), area.top() + inset);
    int left = area.right(), right = area.left(), top = area.bottom(), bottom = area.top();
    for (int y = area.top() + inset; y <= area.bottom() - inset; ++y) {
        for (int x = area.left() + inset; x <= area.right() - inset; ++x) {
            if (shot.pixel(x, y) == ground) continue;
            left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
        }
    }
    if (left > right) return "no text";
    const double dx = ((left - area.left()) - (area.right() - right)) / 2.0 / dpr;
    const double dy = ((top - area.top()) - (area.bottom() - bottom)) / 2.0 / dpr;
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
        fields << keyboard(w);
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
        fields << keyboard(w);
    } else if (auto* button = qobject_cast<QPushButton*>(&w)) {
        fields << looks(button->font(), button->palette().color(QPalette::ButtonText), button->text());
        if (button->isFlat()) fields << "flat";
        fields << keyboard(w);
    } else {
        fields << w.metaObject()->className();
    }
    return fields.join("  ") + "\n";
}

}  // namespace

std::string screenDump(QWidget& window) {
    const QColor background = window.palette().color(QPalette::Window);
    const QImage shot = window.grab().toImage();
    const qreal dpr = shot.devicePixelRatio();
    QString dump = QString::asprintf("window            %d x %d  title ", window.width(), window.height()) +
                   quoted(window.windowTitle()) + "  background " + colour(background) + "\n";
    for (QWidget* w : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        dump += describe(*w, shot, dpr, background);
    }
    return dump.toStdString();
}

void expectGoldenScreen(const std::string& name, const std::string& dump) {
    const std::string golden = FERROWICK_SOURCE_DIR "/tests/golden/screens/" + name + ".txt";
    const char* update = ::getenv("FERROWICK_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        testsupport::writeFile(golden, dump);
        std::cout << "rewrote " << golden << "\n";
        return;
    }
    if (std::filesystem::exists(golden) && testsupport::readFile(golden) == dump) return;
    const std::string actual = testing::TempDir() + "/" + name + "." + std::to_string(::getpid()) + ".txt";
    testsupport::writeFile(actual, dump);
    const auto diff =
        platform::Subprocess::run({"/usr/bin/diff",
                                   {"-u", "--label", "tests/golden/screens/" + name + ".txt", "--label", "this run",
                                    std::filesystem::exists(golden) ? golden : "/dev/null", actual},
                                   {{"PATH", "/usr/bin:/bin"}},
                                   platform::OutputMode::Pipe});
    std::filesystem::remove(actual);
    ADD_FAILURE() << "screen " << name << " differs from its golden file (FERROWICK_UPDATE_GOLDEN=1 rewrites it):\n"
                  << (diff ? diff->output : "diff did not run");
}

}  // namespace uitest
