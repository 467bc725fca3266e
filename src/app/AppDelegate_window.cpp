#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "app/AppDelegate.h"
#include "app/DropView.h"
#include "app/LauncherWindow.h"
#ifdef __APPLE__
#include "app/MacWindowChrome.h"
#endif
#include "app/OutlinedCheckBoxStyle.h"
#include "app/Spinner.h"
#include "app/Styling.h"
#include "platform/Bundle.h"

namespace {

QRect frame(int x, int y, int w, int h) {
    return styling::frame(x, y, w, h, LauncherWindow::height);
}

void setTextColor(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette p = widget->palette();
    p.setColor(role, color);
    widget->setPalette(p);
}

QLabel* makeLabel(QWidget* parent, const QRect& rect, const char* text, int size, QFont::Weight weight,
                  const QColor& color) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setGeometry(rect);
    label->setFont(styling::systemFont(size, weight));
    label->setAlignment(Qt::AlignCenter);
    // Statuses carry texts from elsewhere (paths, tool output): never markup.
    label->setTextFormat(Qt::PlainText);
    setTextColor(label, QPalette::WindowText, color);
    return label;
}

enum class Bezel { rounded, recessed, inlineLink };

QPushButton* makeButton(QWidget* parent, const QRect& rect, const char* title, int size, QFont::Weight weight,
                        Bezel bezel, std::optional<QColor> tint) {
    auto* button = new QPushButton(QString::fromUtf8(title), parent);
    button->setGeometry(rect);
    button->setFont(styling::systemFont(size, weight));
    button->setFlat(bezel != Bezel::rounded);
    if (bezel == Bezel::inlineLink) button->setCursor(Qt::PointingHandCursor);
    if (tint) setTextColor(button, QPalette::ButtonText, *tint);
    // No control is a default button or takes a key equivalent, but Tab
    // reaches every button and Space presses it.
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

// The icon as the platform can read it: the Mac's icns first, else the png.
QPixmap loadAppIconFile() {
    const std::string base = platform::Bundle::resourcePath() + "/AppIcon";
    for (const char* type : {".icns", ".png"}) {
        QPixmap pixmap;
        if (pixmap.load(QString::fromStdString(base + type))) return pixmap;
    }
    return {};
}

// The icon at 64 points, in as many device pixels as the screen has, so that
// it stays sharp at a scale factor of 2.
QPixmap loadAppIcon(qreal devicePixelRatio) {
    const QPixmap file = loadAppIconFile();
    if (file.isNull()) return file;
    const int side = qRound(64 * devicePixelRatio);
    QPixmap icon = file.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    icon.setDevicePixelRatio(devicePixelRatio);
    return icon;
}

// Dark colours for the controls that take theirs from the palette.
QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, styling::grey(LauncherWindow::backgroundGrey));
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Button, styling::grey(0.27));
    p.setColor(QPalette::ButtonText, styling::grey(0.9));
    p.setColor(QPalette::Base, styling::grey(0.2));
    p.setColor(QPalette::Text, styling::grey(0.9));
    p.setColor(QPalette::Highlight, styling::grey(0.55));
    p.setColor(QPalette::Light, styling::grey(0.35));
    p.setColor(QPalette::Midlight, styling::grey(0.3));
    p.setColor(QPalette::Mid, styling::grey(0.2));
    p.setColor(QPalette::Dark, styling::grey(0.08));
    p.setColor(QPalette::Shadow, Qt::black);
    return p;
}

}  // namespace

void AppDelegate::setupWindow() {
    window = std::make_unique<LauncherWindow>();
    window->setPalette(darkPalette());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        window->move(screen->availableGeometry().center() - window->rect().center());
    }
    QWidget* content = window.get();

    // Children are raised in creation order, so this order is the stacking order.
    const QPixmap icon = loadAppIcon(content->devicePixelRatioF());
    if (!icon.isNull()) {
        auto* iconView = new QLabel(content);
        iconView->setObjectName("appIcon");
        iconView->setGeometry(frame(148, 304, 64, 64));
        iconView->setAlignment(Qt::AlignCenter);
        iconView->setPixmap(icon);
    }

    auto* title = makeLabel(content, frame(30, 270, 300, 24), "Ferrowick", 18, QFont::DemiBold, Qt::white);
    title->setObjectName("productTitle");

    statusLabel =
        makeLabel(content, frame(20, 175, 320, 60), "Checking system...", 13, QFont::Normal, styling::grey(0.55));
    statusLabel->setObjectName("statusLabel");
    statusLabel->setWordWrap(true);

    spinner = new Spinner(content);
    spinner->setGeometry(frame(168, 140, 24, 24));
    spinner->setObjectName("spinner");
    spinner->startAnimation();

    progressBar = new QProgressBar(content);
    progressBar->setGeometry(frame(40, 140, 280, 6));
    progressBar->setObjectName("progressBar");
    progressBar->setRange(0, 1000);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    progressBar->hide();

    mainButton = makeButton(content, frame(80, 115, 200, 38), "Open Steam", 15, QFont::Medium, Bezel::rounded,
                            QColor(Qt::white));
    mainButton->setObjectName("mainButton");
    connect(mainButton, &QPushButton::clicked, this, [this] { onMainButton(); });
    mainButton->hide();

    downloadButton = makeButton(content, frame(90, 115, 180, 32), "Download Steam \u2197", 12, QFont::Medium,
                                Bezel::rounded, std::nullopt);
    downloadButton->setObjectName("downloadButton");
    connect(downloadButton, &QPushButton::clicked, this, [this] { onDownloadSteam(); });
    downloadButton->hide();

    dropZone = new DropView(content);
    dropZone->setGeometry(frame(30, 45, 300, 55));
    dropZone->setObjectName("dropZone");
    dropZone->setAccessibleName("Drop SteamSetup.exe here");
    dropZone->hide();
    QPointer<AppDelegate> weakSelf(this);
    dropZone->onDrop = [weakSelf](const std::string& path) {
        if (weakSelf) weakSelf->handleDroppedInstaller(path);
    };

    repairButton =
        makeButton(content, frame(145, 12, 70, 22), "Repair", 11, QFont::Normal, Bezel::recessed, styling::grey(0.45));
    repairButton->setObjectName("repairButton");
    connect(repairButton, &QPushButton::clicked, this, [this] { onRepair(); });
    repairButton->hide();

    // Read by onEulaAccept; the box itself sends nothing.
    eulaCheck1 =
        new QCheckBox(QString::fromUtf8("I agree to the End User License Agreement\nand Privacy Policy."), content);
    eulaCheck1->setGeometry(frame(40, 115, 280, 36));
    eulaCheck1->setObjectName("eulaCheck1");
    eulaCheck1->setFont(styling::systemFont(12, QFont::Normal));
    setTextColor(eulaCheck1, QPalette::WindowText, styling::grey(0.55));
    eulaCheck1->setStyle(new OutlinedCheckBoxStyle(eulaCheck1));
    eulaCheck1->setFocusPolicy(Qt::StrongFocus);
    eulaCheck1->hide();

    eulaAcceptButton =
        makeButton(content, frame(110, 65, 140, 32), "Continue", 14, QFont::Medium, Bezel::rounded, QColor(Qt::white));
    eulaAcceptButton->setObjectName("eulaAcceptButton");
    connect(eulaAcceptButton, &QPushButton::clicked, this, [this] { onEulaAccept(); });
    eulaAcceptButton->hide();

    eulaLinkButton =
        makeButton(content, frame(100, 22, 60, 18), "EULA", 11, QFont::Normal, Bezel::inlineLink, styling::grey(0.55));
    eulaLinkButton->setObjectName("eulaLinkButton");
    connect(eulaLinkButton, &QPushButton::clicked, this, [this] { onEulaLink(); });
    eulaLinkButton->hide();

    auto* privacy = makeButton(content, frame(170, 22, 100, 18), "Privacy Policy", 11, QFont::Normal, Bezel::inlineLink,
                               styling::grey(0.55));
    privacy->setObjectName(privacyLinkName);
    connect(privacy, &QPushButton::clicked, this, [this] { onPrivacyLink(); });
    privacy->hide();

    // Where the menu bar is not the platform's global one it is never shown,
    // so the window carries its actions to keep Ctrl+Q and Ctrl+W working.
    if (menuBar_ && !menuBar_->isNativeMenuBar()) {
        for (QAction* top : menuBar_->actions()) {
            if (top->menu() != nullptr) window->addActions(top->menu()->actions());
        }
    }

    window->show();
#ifdef __APPLE__
    applyMacWindowChrome(*window);
#endif
    window->raise();
    window->activateWindow();
}
