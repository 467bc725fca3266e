#pragma once

#include <QApplication>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/AppDelegate.h"
#include "support/TestHome.h"

namespace uitest {

// Runs everything posted to the main queue so far, and what that posts.
// This test program, to start it again as a child.
inline std::string thisTestProgram() {
    return platform::Bundle::executableDirectory() + "/ui_tests";
}

inline void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Runs the event loop until `done` holds; false after `limit` (only there to end a hang).
inline bool pumpUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(90)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return settle(), true;
}

// A launcher in its own HOME and bundle, with the built icon.
struct Launcher {
    Launcher() {
        std::filesystem::copy(FERROWICK_BUNDLE_DIR "/AppIcon.png", home.bundle() + "/AppIcon.png");
        delegate = std::make_unique<AppDelegate>();
    }
    void buildWindow() { delegate->setupMenuBar(), delegate->setupWindow(); }
    void launch() { delegate->applicationDidFinishLaunching(), settle(); }
    AppDelegate& d() { return *delegate; }
    std::string status() const { return delegate->statusLabel->text().toStdString(); }

    testsupport::TestHome home;  // first: before anything reads HOME
    std::unique_ptr<AppDelegate> delegate;
};

// Every text the status label shows, in order. The filter looks before each event, so a text
// is seen before the next one replaces it.
struct StatusRecorder : QObject {
    explicit StatusRecorder(AppDelegate& d) : d(d) { QCoreApplication::instance()->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent*) override {
        if (d.statusLabel && (texts.empty() || texts.back() != d.statusLabel->text().toStdString()))
            texts.push_back(d.statusLabel->text().toStdString());
        return false;
    }
    AppDelegate& d;
    std::vector<std::string> texts;
};

// A drag of `mime` with local `paths` added entering `target`, as a file manager sends it; true
// when taken as a copy. endDrag() then drops it (true when taken) or, without `mime`, leaves.
inline bool enterDrag(QWidget* target, QMimeData& mime, const std::vector<std::string>& paths) {
    for (const auto& path : paths) mime.setUrls(mime.urls() << QUrl::fromLocalFile(QString::fromStdString(path)));
    QDragEnterEvent enter(QPoint(150, 27), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &enter);
    return enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
}
inline bool endDrag(QWidget* target, const QMimeData* mime = nullptr) {
    QDragLeaveEvent leave;
    if (!mime) return QCoreApplication::sendEvent(target, &leave), false;
    QDropEvent drop(QPointF(150, 27), Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

// Whether `expected` occurs in `seen` in order; an entry ending in "*" matches by prefix.
inline bool inOrder(const std::vector<std::string>& seen, const std::vector<std::string>& expected) {
    auto at = seen.begin();
    for (const auto& want : expected) {
        const std::string stem = want.ends_with('*') ? want.substr(0, want.size() - 1) : want;
        at = std::find_if(at, seen.end(),
                          [&](const auto& s) { return s == want || (stem != want && s.starts_with(stem)); });
        if (at++ == seen.end()) return false;
    }
    return true;
}

// Answers the next modal alert with the button titled `answer` once it is up; `seen` gets its
// icon, texts and buttons, the default one starred.
inline void answerNextAlert(const QString& answer, std::string* seen = nullptr) {
    QTimer::singleShot(20, [answer, seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return answerNextAlert(answer, seen);
        if (seen) {
            *seen = (box->icon() == QMessageBox::Warning ? "warning|" : "other|") + box->text().toStdString() + "|" +
                    box->informativeText().toStdString();
            for (QAbstractButton* button : box->buttons())
                *seen += "|" + button->text().toStdString() + (button == box->defaultButton() ? "*" : "");
        }
        for (QAbstractButton* button : box->buttons())
            if (button->text() == answer) button->click();
    });
}

}  // namespace uitest
