#include "app/DropView.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

#include "app/Styling.h"
#include "controller/InstallerDrop.h"

namespace {
const char* const hintText = "Drop SteamSetup.exe here";
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
    const auto judgement = InstallerDrop::judge(path->toStdString());
    if (judgement.accepted) {
        showingError_ = false;
        setBorder(Qt::white);
    } else {
        errorMessage_ = QString::fromStdString(judgement.errorMessage);
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
    if (!path || !InstallerDrop::judge(path->toStdString()).accepted) {
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
