// PrefixManager's Wine commands against the fake Wine runtime: the runner,
// the setup log, prefix creation and the installer runner.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "logging/Logger.h"
#include "support/FakeWine.h"
#include "support/GoldenLog.h"
#include "support/TestHome.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;
using Lines = std::vector<std::string>;
using Control = std::map<std::string, std::string>;

namespace {

const std::string kVersion = "wine-11.4 (Staging)\n";

struct PrefixManagerWineTest : testing::Test {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    PrefixManager manager;
    const std::string log = PrefixManager::setupLogPath();
    Lines status;
    PrefixManager::StatusCallback collect = [this](const std::string& s) { status.push_back(s); };
    PrefixManager at(const std::string& prefix, bool wineMissing) const {
        return PrefixManager(prefix, wineMissing ? home.root() + "/no/wine" : manager.wineBin());
    }
};

}  // namespace

TEST_F(PrefixManagerWineTest, SetupLogSections) {
    writeFile(log, "");  // an empty log holds no text to separate from
    EXPECT_EQ(manager.runWine({"--version"}).output, kVersion);
    EXPECT_EQ(manager.runWine({"wineboot"}).output, "");
    wine.set("run.output", "done");
    (void)manager.runWine({"C:\\My Setup.exe", "/S"});
    const auto failed = at(manager.prefixPath(), true).runWine({"--version"});
    EXPECT_TRUE(failed.status == -1 && failed.output.rfind("Launch failed: ", 0) == 0) << failed.output;
    EXPECT_EQ(readFile(log), "--- wine --version ---\n" + kVersion + "\n--- wine wineboot ---\n\n--- wine C:\\My " +
                                 "Setup.exe /S ---\ndone--- wine --version ---\n" + failed.output + "\n");

    // A log that cannot be replaced changes nothing in the result and leaves no temporary file.
    fs::remove(log);
    fs::create_directories(log + "/inside");
    const auto r = manager.runWine({"--version"});
    EXPECT_EQ(r.output + std::to_string(r.status), kVersion + "0");
    for (const auto& e : fs::directory_iterator(fs::path(log).parent_path()))
        EXPECT_EQ(e.path().filename().string().rfind("setup-output.log.", 0), std::string::npos) << e.path();
}

// The log grows in place: a reader that holds it open sees every section, however long the log.
// Multi-byte letters across the 64 KiB reading blocks are still UTF-8; a stray byte is not.
TEST_F(PrefixManagerWineTest, SetupLogGrowsInPlace) {
    const std::string earlier = std::string(65535, 'a') + "\xC3\xA9";
    writeFile(log, earlier);
    writeFile(log + ".k3Jq9Z", "half a replace");  // left by a launcher killed mid-replace
    writeFile(log + ".old", "the user's own copy");
    std::ifstream reader(log);
    (void)manager.runWine({"--version"});
    (void)manager.runWine({"wineboot"});
    const std::string added = "\n--- wine --version ---\n" + kVersion + "\n--- wine wineboot ---\n";
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), earlier + added);
    EXPECT_FALSE(fs::exists(log + ".k3Jq9Z"));
    EXPECT_EQ(readFile(log + ".old"), "the user's own copy");

    writeFile(log, std::string(70000, 'b') + "\xE2\x82");  // ends inside a letter: not UTF-8
    (void)manager.runWine({"wineboot"});
    EXPECT_EQ(readFile(log), "--- wine wineboot ---\n");
    fs::remove(log);
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);  // nobody reads it: opening it must not wait
    (void)manager.runWine({"wineboot"});
    EXPECT_EQ(readFile(log), "--- wine wineboot ---\n");
}

TEST_F(PrefixManagerWineTest, OutputShapes) {
    const std::tuple<Control, std::string, int> cases[] = {
        {{{"run.output", "out 1\n"}, {"run.stderr", "err 2\n"}}, "out 1\nerr 2\n", 0},  // merged in write order
        {{{"run.output", "ok \xFF\xFE ok"}, {"run.exit", "3"}}, "", 3},    // invalid UTF-8 gives empty text
        {{{"run.output", "partial"}, {"run.signal", "9"}}, "partial", 9},  // killed: the signal
        // Ends when Wine exits although a child (as Wine's server does) holds the pipe.
        {{{"run.output", "done\n"}, {"run.child", "120"}}, "done\n", 0},
    };
    for (const auto& [control, output, exit] : cases) {
        fs::remove(log);
        wine.configure(control);
        const auto start = std::chrono::steady_clock::now();
        const auto r = manager.runWine({"prog.exe"});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
        EXPECT_EQ(std::to_string(r.status) + " " + r.output, std::to_string(exit) + " " + output);
        EXPECT_EQ(readFile(log), "--- wine prog.exe ---\n" + output);
    }
    EXPECT_EQ(wine.livePids().size(), 1u) << "the child should still hold the pipe";
}

TEST_F(PrefixManagerWineTest, ConcurrentCommandsKeepSectionsWhole) {
    const std::string body(1u << 20, 'w');  // more than a pipe holds
    wine.set("run.output", body);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 3; ++i) (void)manager.runWine({"T" + std::to_string(t * 3 + i) + ".exe"});
        });
    }
    for (auto& th : threads) th.join();
    // Each section is its header and 1 MiB, joined by "\n", and nothing else.
    const std::string text = readFile(log);
    size_t total = 11;
    for (int n = 0; n < 12; ++n) {
        const std::string header = "--- wine T" + std::to_string(n) + ".exe ---\n";
        const size_t at = text.find(header);
        ASSERT_NE(at, std::string::npos) << n;
        EXPECT_EQ(text.compare(at + header.size(), body.size(), body), 0) << n;
        total += header.size() + body.size();
    }
    EXPECT_EQ(text.size(), total);
}

TEST_F(PrefixManagerWineTest, CreatePrefixOutcomes) {
    // control, Wine missing, created, failure reported (not when Wine succeeds without a registry);
    // a plain success runs whole in the journeys' golden logs.
    const std::string answer = std::string(300, 'a') + std::string(300, 'b');
    const std::tuple<Control, bool, bool, bool> cases[] = {
        {{{"wineboot.create", "noreg"}}, false, false, false},
        {{{"wineboot.exit", "1"}, {"wineboot.output", answer}}, false, false, true},
        {{}, true, false, true},
    };
    int n = 0;
    for (const auto& [control, wineMissing, created, reported] : cases) {
        wine.configure(control);
        status.clear();
        PrefixManager m = at(home.root() + "/case " + std::to_string(++n), wineMissing);
        EXPECT_EQ(m.createPrefix(collect), created) << n;
        EXPECT_EQ(m.prefixExists(), created) << n;
        Lines expected = {"Creating Wine prefix..."};
        if (reported) expected.push_back("Failed to create Wine prefix");
        EXPECT_EQ(status, expected) << n;
    }
    // Wine's answer to a failed wineboot is logged to its first 500 characters.
    const std::string log = readFile(Logger::logPath());
    EXPECT_NE(log.find("] [ERROR] wineboot failed: " + answer.substr(0, 500) + "\n"), std::string::npos);
}

TEST_F(PrefixManagerWineTest, RunInstallerPassesThePathAsOneArgumentInTheSafeEnvironment) {
    const std::tuple<Control, bool, std::string, bool> cases[] = {
        // control, Steam there before, exit ("-1": Wine missing), result
        {{{"run.steam", "1"}, {"run.exit", "2"}}, false, "2", true},
        {{}, false, "0", false},  // cancelled
        {{}, true, "-1", true},
    };
    // The parent's own Wine settings and unlisted variables never reach Wine.
    for (const char* v : {"WINEPREFIX", "WINEDEBUG", "FERROWICK_UNLISTED"}) ::setenv(v, "/elsewhere", 1);
    // Names a shell would run as commands reach Wine as one literal argument.
    const char* const names[] = {"a;touch PWNED;.exe", "$(touch PWNED).exe", "it's \"Steam\" Setup; touch PWNED.exe"};
    int n = 0;
    for (const auto& [control, steamBefore, exit, result] : cases) {
        const std::string installer = home.tmp() + "/" + names[n];
        wine.configure(control);
        const std::string prefix = home.root() + "/Pr\xC3\xA4" + "fix " + std::to_string(++n);
        PrefixManager m = at(prefix, exit == "-1");
        if (steamBefore) writeFile(prefix + Constants::steamExeUnix, "steam");
        status.clear();
        const size_t callsBefore = wine.calls().size();
        EXPECT_EQ(m.runInstaller(installer, collect), result) << n;
        Lines statuses = {"Running installer (complete the setup)..."};
        if (exit != "0") statuses.push_back("Installation may have failed (exit code " + exit + ")");
        EXPECT_EQ(status, statuses);
        const auto calls = wine.calls();
        ASSERT_EQ(calls.size(), callsBefore + (exit != "-1"));
        if (exit == "-1") continue;
        EXPECT_EQ(calls.back().args, Lines{installer});
        EXPECT_EQ(calls.back().env, testsupport::wineChildEnvironment(prefix));
        const std::string log = testsupport::normaliseLog(readFile(Logger::logPath()), home.root(), true);
        const std::string shown = "$ROOT" + installer.substr(home.root().size());
        EXPECT_NE(log.find("[HH:mm:ss.SSS] [INFO] Running user-provided installer: " + shown +
                           "\n[HH:mm:ss.SSS] [INFO] runWine: " + shown +
                           "\n[HH:mm:ss.SSS] [INFO] Installer exited with code " + exit + "\n"),
                  std::string::npos)
            << log;
    }
    for (const fs::path& dir : {fs::current_path(), fs::path(home.tmp())}) EXPECT_FALSE(fs::exists(dir / "PWNED"));
    for (const char* v : {"WINEPREFIX", "WINEDEBUG", "FERROWICK_UNLISTED"}) ::unsetenv(v);
}

// The version is Wine's answer trimmed, and it must start with the required one.
TEST_F(PrefixManagerWineTest, WineVersionCheck) {
    const std::tuple<std::string, bool, std::string> cases[] = {
        {" \twine-11.4 (Staging)\r\n", true, "wine-11.4 (Staging)"},
        {"wine-11.4.1\n", true, "wine-11.4.1"},
        {"wine-11.3 (Staging)\n", false, "wine-11.3 (Staging)"},
        {"Wine wine-11.4\n", false, "Wine wine-11.4"},
    };
    for (const auto& [output, valid, version] : cases) {
        wine.set("version.output", output);
        const auto check = manager.checkWineVersion();
        EXPECT_EQ(check.valid, valid) << output;
        EXPECT_EQ(check.version, version);
    }
}
