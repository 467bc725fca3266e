#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>

#include "app/AppDelegate.h"

void AppDelegate::setupMenuBar() {
    // Parentless, so that on the Mac it becomes the global menu bar.
    menuBar_ = std::make_unique<QMenuBar>();

    auto* appMenu = new QMenu(menuBar_.get());
    auto* quit = appMenu->addAction("Quit Ferrowick");
    quit->setMenuRole(QAction::QuitRole);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Quitting takes the same path as closing the last window: aboutToQuit.
    connect(quit, &QAction::triggered, qApp, [] { QCoreApplication::quit(); });
    menuBar_->addMenu(appMenu);

    auto* fileMenu = new QMenu("File", menuBar_.get());
    auto* close = fileMenu->addAction("Close Window");
    close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(close, &QAction::triggered, this, [] {
        if (QWidget* active = QApplication::activeWindow()) active->close();
    });
    menuBar_->addMenu(fileMenu);
}
