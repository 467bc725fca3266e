#include "app/Spinner.h"

#include <QPainter>

#include "app/Styling.h"

namespace {
constexpr int frameMs = 50;
constexpr int stepDegrees = 30;
}  // namespace

Spinner::Spinner(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(frameMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + stepDegrees) % 360;
        update();
    });
}

void Spinner::startAnimation() {
    timer_.start();
}

void Spinner::stopAnimation() {
    timer_.stop();
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = qMin(width(), height());
    const qreal pen = qMax<qreal>(2.0, side / 10.0);
    QRectF arc((width() - side) / 2.0 + pen, (height() - side) / 2.0 + pen, side - 2 * pen, side - 2 * pen);
    painter.setPen(QPen(styling::grey(0.3), pen));
    painter.drawEllipse(arc);
    painter.setPen(QPen(styling::grey(0.8), pen, Qt::SolidLine, Qt::RoundCap));
    // Qt angles are in sixteenths of a degree, counter-clockwise.
    painter.drawArc(arc, -angle_ * 16, 100 * 16);
}
