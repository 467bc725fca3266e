#pragma once

#include <QWidget>

// The launcher's only window: fixed size, dark background, no title, and
// movable by dragging any empty part of its background.
class LauncherWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int width = 360;
    static constexpr int height = 400;
    static constexpr double backgroundGrey = 0.11;

    LauncherWindow();

protected:
    // A press that no control took starts a system move of the window.
    void mousePressEvent(QMouseEvent* event) override;
};
