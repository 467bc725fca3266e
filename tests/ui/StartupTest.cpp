#include <gtest/gtest.h>
#include <signal.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QPushButton>
#include <QTextBrowser>
#include <QtTest/QTest>
#include <regex>

#include "platform/Subprocess.h"
#include "support/FakeWine.h"
#include "ui/UiSupport.h"

// The agreement with the keyboard alone: Tab reaches the box, Continue and the links, Space presses them.
TEST(Startup, TheAgreementTakesTheKeyboard) {
    uitest::Launcher launcher;
    launcher.launch();
    AppDelegate& d = launcher.d();
    ASSERT_TRUE(d.statusTimer && d.statusTimer->isActive());
    QApplication::setActiveWindow(d.window.get());
    QTextBrowser browser;  // stands in for the user's browser
    QDesktopServices::setUrlHandler("https", &browser, "setSource");
    const auto tabAndSpace = [&] {  // Tab to the next control, Space presses it
        for (Qt::Key k : {Qt::Key_Tab, Qt::Key_Space})
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : d.window.get(), k);
        uitest::settle();
        return browser.source().toString().toStdString();
    };
    ASSERT_EQ(QApplication::focusWidget(), d.eulaCheck1);
    tabAndSpace();  // Continue, not ticked
    EXPECT_EQ(launcher.status(), "Please check the box to continue.");
    EXPECT_TRUE(tabAndSpace().ends_with("/eula"));
    EXPECT_TRUE(tabAndSpace().ends_with("/privacy"));
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_FALSE(std::filesystem::exists(Constants::eulaAcceptedFile()));
    tabAndSpace();  // round to the box: tick it, then Continue
    EXPECT_TRUE(d.eulaCheck1->isChecked());
    tabAndSpace();
    EXPECT_TRUE(std::filesystem::exists(Constants::eulaAcceptedFile()));
    EXPECT_TRUE(uitest::pumpUntil([&] { return !d.repairButton->isHidden(); }));  // setup ran to its verdict
}

// With the agreement given, the start-up screen and then the system check's verdict (without
// runtime.lock in the test bundle it wants macOS 14, which Linux never reports), nothing between.
TEST(Startup, WithTheMarkerNoOtherScreenSlipsIn) {
    uitest::Launcher launcher;
    testsupport::writeFile(Constants::eulaAcceptedFile(), "");
    uitest::StatusRecorder screens(launcher.d());
    launcher.launch();
    ASSERT_TRUE(uitest::pumpUntil([&] { return !launcher.d().repairButton->isHidden(); }));
    for (auto& text : screens.texts) text = std::regex_replace(text, std::regex("Your version: .*"), "Your version: *");
    EXPECT_EQ(screens.texts,
              (std::vector<std::string>{"Checking system...", "macOS 14.0 or later is required.\nYour version: *"}));
}

// Two launchers on one support directory: the second, started while the first runs its first wineboot, touches
// nothing (the first's log stays whole, it runs no Wine) and exits. The lock goes with a killed launcher, even
// while the Wine it started lives on.
TEST(Startup, OneLauncherPerSupportDirectory) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    wine.configure({{"wineboot.sleep", "60"}});
    testsupport::writeFile(home.supportDir() + "/eula-accepted", "");
    const auto launcher = [&] {  // this program as the whole launcher
        auto started = platform::Subprocess::start(
            {std::filesystem::read_symlink("/proc/self/exe"),
             {},
             {{"HOME", home.home()}, {"TMPDIR", home.tmp()}, {"FERROWICK_UI_CHILD", "launcher"}},
             platform::OutputMode::Null});
        EXPECT_TRUE(started.process) << started.error;
        return std::move(started.process);
    };
    const auto wineboots = [&] { return wine.runs("wineboot"); };
    const std::string log = home.supportDir() + "/launcher.log";
    auto first = launcher();
    ASSERT_TRUE(first && uitest::pumpUntil([&] { return wineboots() == 1; }));
    const std::string firstLog = testsupport::readFile(log);
    const size_t calls = wine.calls().size();
    auto second = launcher();
    const auto ended = second ? second->waitFor(60) : std::nullopt;
    EXPECT_TRUE(ended && !ended->signaled && ended->status == 0) << "the second launcher stayed";
    EXPECT_EQ(testsupport::readFile(log), firstLog);
    EXPECT_EQ(wine.calls().size(), calls);
    first->sendSignal(SIGKILL), first->wait();
    EXPECT_FALSE(wine.livePids().empty()) << "the killed launcher's wineboot lives on";
    wine.configure({});
    auto third = launcher();
    EXPECT_TRUE(third && uitest::pumpUntil([&] { return wineboots() == 2; })) << "the lock outlived its launcher";
    const std::string thirdLog = testsupport::readFile(log);  // emptied first: one run's lines
    EXPECT_EQ(thirdLog.find("--- Validation started ---"), thirdLog.rfind("--- Validation started ---")) << thirdLog;
    if (third) third->sendSignal(SIGKILL), third->wait();
}
