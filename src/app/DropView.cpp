#include "app/DropView.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

#include "app/Styling.h"

namespace {
const char* const hintText = "Drop SteamSetup.exe here";
const char* const wrongFormatPrefix = "Wrong format: need .exe, not .";
constexpr double restGrey = 0.3;
constexpr double hintGrey = 0.45;

// A local path without the trailing slashes a folder URL may carry.
QString trimmedPath(QString path) {
    while (path.size() > 1 && path.endsWith('/')) path.chop(1);
    return path;
}
}  // namespace

DropView::DropView(QWidget* parent) : QWidget(parent), borderColor_(styling::grey(restGrey)) {
    setAcceptDrops(true);
}

QString DropView::extensionOf(const QString& path) {
    const QString trimmed = trimmedPath(path);
    const QString name = trimmed.mid(trimmed.lastIndexOf('/') + 1);
    const qsizetype dot = name.lastIndexOf('.');
    // A leading dot marks a hidden name, not an extension.
    if (dot <= 0) return QString();
    return name.mid(dot + 1);
}

QString DropView::wrongFormatMessage(const QString& extension) {
    return QString(wrongFormatPrefix) + extension;
}

std::optional<QString> DropView::candidatePath(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return std::nullopt;
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return std::nullopt;
    return trimmedPath(urls.first().toLocalFile());
}

QString DropView::displayedText() const {
    return showingError_ ? errorMessage_ : QString(hintText);
}

QColor DropView::textColor() const {
    return showingError_ ? styling::systemRed() : styling::grey(hintGrey);
}

QFont DropView::textFont() {
    return styling::systemFont(fontSize, QFont::Medium);
}

void DropView::setBorder(const QColor& color) {
    borderColor_ = color;
    update();
}

void DropView::dragEnterEvent(QDragEnterEvent* event) {
    const auto path = candidatePath(event->mimeData());
    dragOffered_ = path.has_value();
    if (!path) {
        event->ignore();
        return;
    }
    const QString extension = extensionOf(*path);
    if (extension.toLower() == "exe") {
        showingError_ = false;
        setBorder(Qt::white);
    } else {
        errorMessage_ = wrongFormatMessage(extension);
        showingError_ = true;
        setBorder(styling::systemRed());
    }
    // Offered as a copy either way; a wrong file is refused at the drop.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DropView::dragMoveEvent(QDragMoveEvent* event) {
    if (!dragOffered_) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DropView::dragLeaveEvent(QDragLeaveEvent*) {
    dragOffered_ = false;
    showingError_ = false;
    setBorder(styling::grey(restGrey));
}

void DropView::dropEvent(QDropEvent* event) {
    dragOffered_ = false;
    setBorder(styling::grey(restGrey));
    showingError_ = false;
    const auto path = candidatePath(event->mimeData());
    if (!path || extensionOf(*path).toLower() != "exe") {
        event->ignore();
        return;
    }
    if (onDrop) onDrop(path->toStdString());
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DropView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal inset = borderWidth / 2.0;
    painter.setPen(QPen(borderColor_, borderWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), cornerRadius, cornerRadius);

    painter.setFont(textFont());
    painter.setPen(textColor());
    painter.drawText(rect(), Qt::AlignCenter, displayedText());
}
