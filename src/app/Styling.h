#pragma once

#include <QColor>
#include <QFont>
#include <QRect>

// Small shared helpers for the window's look. Sizes are in window points,
// which Qt calls logical pixels, so fonts are sized in pixels to keep text
// in proportion to the frames on every screen density.
namespace styling {

// A calibrated grey level, 0.0 black to 1.0 white.
inline QColor grey(double level) {
    return QColor::fromRgbF(float(level), float(level), float(level));
}

// The red used for warnings (the platform's system red on the Mac).
inline QColor systemRed() {
    return QColor(255, 59, 48);
}

// The system font at `size` points and `weight`.
QFont systemFont(int size, QFont::Weight weight);

// A frame given with a bottom-left origin, as a top-left-origin rectangle
// inside a container `containerHeight` high.
constexpr QRect frame(int x, int y, int width, int height, int containerHeight) {
    return QRect(x, containerHeight - y - height, width, height);
}

}  // namespace styling
