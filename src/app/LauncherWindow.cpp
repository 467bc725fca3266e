#include "app/LauncherWindow.h"

#include <QMouseEvent>
#include <QPalette>
#include <QWindow>

#include "app/Styling.h"

LauncherWindow::LauncherWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowMinimizeButtonHint) {
    // Blank, not empty: for an empty title Qt shows the application's name.
    setWindowTitle(QStringLiteral(" "));
    setFixedSize(width, height);
    QPalette p = palette();
    p.setColor(QPalette::Window, styling::grey(backgroundGrey));
    setPalette(p);
    setAutoFillBackground(true);
}

void LauncherWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && windowHandle() != nullptr) {
        // Only presses on empty background arrive here: controls consume theirs.
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}
