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

std::string str(const QString& s) {
    return s.toStdString();
}

// Greys as levels with two decimals, as the window's colours are given.
std::string colour(const QColor& c) {
    if (c.red() != c.green() || c.green() != c.blue())
        return str(QString::asprintf("#%02x%02x%02x", c.red(), c.green(), c.blue()));
    if (c.red() == 255) return "white";
    return str(QString::asprintf("grey %.2f", c.red() / 255.0));
}

std::string quoted(QString text) {
    return "\"" + str(text.replace('\n', "\\n")) + "\"";
}

std::string font(const QFont& f) {
    const int size = f.pixelSize() > 0 ? f.pixelSize() : int(f.pointSizeF());
    const char* weight = f.weight() == QFont::Normal     ? "regular"
                         : f.weight() == QFont::Medium   ? "medium"
                         : f.weight() == QFont::DemiBold ? "semibold"
                         : f.weight() == QFont::Bold     ? "bold"
                                                         : nullptr;
    return "system " + std::to_string(size) + " " + (weight ? weight : "weight " + std::to_string(f.weight()));
}

std::string keyboard(const QWidget& w) {
    const QAccessibleInterface* a11y = QAccessible::queryAccessibleInterface(const_cast<QWidget*>(&w));
    return std::string(w.focusPolicy() & Qt::TabFocus ? "tab" : "no tab") + "  a11y " +
           quoted(a11y ? a11y->text(QAccessible::Name) : QString());
}

// WCAG relative luminance of an sRGB colour, and the contrast of two.
double luminance(const QColor& c) {
    auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}
std::string contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return str(QString::asprintf("%.1f:1", (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05)));
}

// Where the drop zone's text lies on screen: the ink inside its border,
// compared with the zone's centre (fonts differ, so only the centring is kept).
std::string inkPlacement(const QImage& shot, const QRect& zone, qreal dpr) {
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
    return str(QString::asprintf("text off centre by %.0f, %.0f", dx, -dy));
}

QColor pixelAt(const QImage& shot, QPointF point, qreal dpr) {
    return shot.pixelColor(int(point.x() * dpr), int(point.y() * dpr));
}

std::string describe(QWidget& w, const QImage& shot, qreal dpr, const QColor& background) {
    const bool shown = w.isVisibleTo(w.window());
    const QRect g = w.geometry();
    std::string line = str(w.objectName()).append(18 - std::min<size_t>(18, w.objectName().size()), ' ');
    line += shown ? "shown   " : "hidden  ";
    line += str(
        QString::asprintf("%d, %d, %d, %d", g.x(), w.window()->height() - g.y() - g.height(), g.width(), g.height()));
    auto add = [&line](const std::string& field) { line += "  " + field; };

    if (auto* label = qobject_cast<QLabel*>(&w); label && !label->pixmap().isNull()) {
        const QPixmap pixmap = label->pixmap();
        add(str(QString::asprintf("image %dx%d @%gx", pixmap.width(), pixmap.height(), pixmap.devicePixelRatio())));
    } else if (label) {
        add(font(label->font()));
        add("text " + colour(label->palette().color(QPalette::WindowText)));
        add(label->alignment() == Qt::AlignCenter ? "centred" : "aligned " + std::to_string(int(label->alignment())));
        add(label->textFormat() == Qt::PlainText ? "plain" : "markup " + std::to_string(int(label->textFormat())));
        if (label->wordWrap()) add("wraps");
        add(quoted(label->text()));
    } else if (auto* spinner = qobject_cast<Spinner*>(&w)) {
        add(spinner->isAnimating() ? "animating" : "still");
    } else if (auto* bar = qobject_cast<QProgressBar*>(&w)) {
        add(str(QString::asprintf("value %.2f",
                                  double(bar->value() - bar->minimum()) / (bar->maximum() - bar->minimum()))));
    } else if (auto* drop = qobject_cast<DropView*>(&w)) {
        add(font(drop->textFont()));
        add("text " + colour(drop->textColor()));
        add(quoted(drop->displayedText()));
        if (shown) {
            add("border " + colour(pixelAt(shot, QPointF(g.left() + 1, g.center().y()), dpr)));
            add(inkPlacement(shot, g, dpr));
        }
        add(keyboard(w));
    } else if (auto* box = qobject_cast<QCheckBox*>(&w)) {
        add(font(box->font()));
        add("text " + colour(box->palette().color(QPalette::WindowText)));
        add(quoted(box->text()));
        add(box->isChecked() ? "on" : "off");
        if (shown) {
            QStyleOptionButton option;
            option.initFrom(box);
            const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
            const QColor outline =
                pixelAt(shot, QPointF(g.left() + indicator.left(), g.top() + indicator.center().y()), dpr);
            add("box outline " + colour(outline) + " (" + contrast(outline, background) + ")");
        }
        add(keyboard(w));
    } else if (auto* button = qobject_cast<QPushButton*>(&w)) {
        add(font(button->font()));
        add("text " + colour(button->palette().color(QPalette::ButtonText)));
        add(quoted(button->text()));
        if (button->isFlat()) add("flat");
        add(keyboard(w));
    } else {
        add(str(w.metaObject()->className()));
    }
    while (line.ends_with(' ')) line.pop_back();
    return line + "\n";
}

}  // namespace

std::string screenDump(QWidget& window) {
    const QColor background = window.palette().color(QPalette::Window);
    const QImage shot = window.grab().toImage();
    const qreal dpr = shot.devicePixelRatio();
    std::string dump = str(QString::asprintf("window            %d x %d  title ", window.width(), window.height())) +
                       quoted(window.windowTitle()) + "  background " + colour(background) + "\n";
    for (QWidget* w : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        dump += describe(*w, shot, dpr, background);
    }
    return dump;
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
