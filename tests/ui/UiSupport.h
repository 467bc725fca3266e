#pragma once

#include <QCoreApplication>
#include <QWidget>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/LauncherWindow.h"
#include "logging/Logger.h"
#include "support/TestHome.h"

namespace uitest {

// Runs everything posted to the main queue so far, and what that posts.
inline void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// A launcher in its own HOME and bundle. The bundle holds the built icon
// unless a test asks for a bundle without it.
struct Launcher {
    explicit Launcher(bool withIcon = true) {
        if (withIcon) {
            std::filesystem::copy_file(std::string(FERROWICK_BUNDLE_DIR) + "/AppIcon.png",
                                       home.bundle() + "/AppIcon.png");
        }
        delegate = std::make_unique<AppDelegate>();
    }
    // Menu bar and window only, as right after window construction.
    void buildWindow() {
        delegate->setupMenuBar();
        delegate->setupWindow();
    }
    void launch() {
        delegate->applicationDidFinishLaunching();
        settle();
    }
    AppDelegate& d() { return *delegate; }

    testsupport::TestHome home;  // first: before anything reads HOME
    std::unique_ptr<AppDelegate> delegate;
};

// Object names of the window's controls that are visible, in stacking order.
inline std::vector<std::string> visibleControls(const AppDelegate& d) {
    std::vector<std::string> names;
    for (QWidget* w : d.window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (w->isVisibleTo(d.window.get())) names.push_back(w->objectName().toStdString());
    }
    return names;
}

inline std::vector<std::string> logLines() {
    std::vector<std::string> lines;
    std::istringstream in(testsupport::readFile(Logger::logPath()));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The message part of a log line: "[time] [LEVEL] message".
inline std::string messageOf(const std::string& line) {
    const auto pos = line.find("] ", line.find("] ") + 2);
    return pos == std::string::npos ? line : line.substr(pos + 2);
}

inline bool logContains(const std::string& text) {
    const auto lines = logLines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

}  // namespace uitest
