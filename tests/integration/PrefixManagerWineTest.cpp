// PrefixManager's Wine commands against the fake Wine runtime: the runner,
// the setup log, prefix creation and the installer runner.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "logging/Logger.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/Constants.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::FakeWine;
using testsupport::readFile;
using testsupport::TestHome;
using testsupport::writeFile;

namespace {

// Launcher log lines without their time stamps: "[LEVEL] message".
std::vector<std::string> logLines() {
    std::vector<std::string> out;
    std::istringstream in(readFile(Logger::logPath()));
    for (std::string l; std::getline(in, l);) out.push_back(l.size() > 15 ? l.substr(15) : l);
    return out;
}

std::string setupLog() {
    return readFile(PrefixManager::setupLogPath());
}

// Collects status lines; the callback runs on the operation's thread.
struct StatusLines {
    std::vector<std::string> lines;
    PrefixManager::StatusCallback callback() {
        return [this](const std::string& s) { lines.push_back(s); };
    }
};

// Entries the setup log's atomic replacement might leave in its directory.
std::vector<std::string> strayTempFiles() {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Constants::supportDir(), ec)) {
        if (e.path().filename().string().rfind("setup-output.log.", 0) == 0) out.push_back(e.path().string());
    }
    return out;
}

}  // namespace

TEST(PrefixManagerWineTest, SetupLogSectionsAcrossStartsAndFailures) {
    TestHome home;
    FakeWine wine;
    Logger::shared();
    PrefixManager manager;

    auto version = manager.runWine({"--version"});
    EXPECT_EQ(version.output, "wine-11.4 (Staging)\n");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(setupLog(), "--- wine --version ---\nwine-11.4 (Staging)\n");

    auto boot = manager.runWine({"wineboot"});  // no output
    EXPECT_EQ(boot.output, "");
    EXPECT_EQ(setupLog(), "--- wine --version ---\nwine-11.4 (Staging)\n\n--- wine wineboot ---\n");

    // Blanks inside an argument are not quoted in the header.
    wine.set("run.output", "done");
    (void)manager.runWine({"C:\\My Setup.exe", "/S"});
    fs::remove(Constants::wineBin());
    auto missing = manager.runWine({"--version"});
    EXPECT_EQ(missing.status, -1);
    EXPECT_EQ(missing.output.rfind("Launch failed: ", 0), 0u) << missing.output;
    EXPECT_GT(missing.output.size(), std::string("Launch failed: ").size());
    EXPECT_EQ(setupLog(),
              "--- wine --version ---\nwine-11.4 (Staging)\n\n--- wine wineboot ---\n"
              "\n--- wine C:\\My Setup.exe /S ---\ndone"
              "--- wine --version ---\n" +
                  missing.output + "\n");

    // The launcher log names each command and never carries Wine's output.
    const std::vector<std::string> expected = {"[INFO] runWine: --version", "[INFO] runWine: wineboot",
                                               "[INFO] runWine: C:\\My Setup.exe /S", "[INFO] runWine: --version"};
    EXPECT_EQ(logLines(), expected);
}

TEST(PrefixManagerWineTest, ChildGetsExactlyTheSafeEnvironmentAndArguments) {
    TestHome home;
    FakeWine wine;
    ::setenv("WINEPREFIX", "/somewhere/else", 1);
    ::setenv("WINEDEBUG", "+all", 1);
    ::setenv("FERROWICK_UNLISTED", "secret", 1);
    const std::string prefix = home.root() +
                               "/Pr\xC3\xA4"
                               "fix with blanks/and more";
    PrefixManager manager(prefix);
    const std::string installer = home.tmp() + "/it's \"Steam\" Setup; rm -rf $HOME\n.exe";
    EXPECT_EQ(manager.runWine({installer, "", "a b"}).status, 0);

    auto calls = wine.calls("wine");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{installer, "", "a b"}));
    EXPECT_EQ(calls[0].env, Constants::buildSafeEnvironment(prefix));
    EXPECT_EQ(calls[0].env.at("WINEPREFIX"), prefix);
    EXPECT_EQ(calls[0].cwd, fs::current_path().string());
    EXPECT_TRUE(fs::exists(home.home()));  // the ';' and "rm -rf" never reached a shell
    for (const char* v : {"WINEPREFIX", "WINEDEBUG", "FERROWICK_UNLISTED"}) ::unsetenv(v);
}

TEST(PrefixManagerWineTest, WineThatCannotStart) {
    TestHome home;
    FakeWine wine;
    struct Case {
        const char* name;
        std::function<void(const std::string&)> breakIt;
    };
    const Case cases[] = {
        {"missing", [](const std::string& p) { fs::remove(p); }},
        {"not executable",
         [](const std::string& p) { fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write); }},
        {"a directory",
         [](const std::string& p) {
             fs::remove(p);
             fs::create_directories(p);
         }},
    };
    for (const auto& c : cases) {
        const std::string bin = home.root() + "/" + c.name + "/wine";
        fs::create_directories(fs::path(bin).parent_path());
        fs::copy_file(Constants::wineBin(), bin);
        c.breakIt(bin);
        fs::remove(PrefixManager::setupLogPath());
        PrefixManager manager(Constants::prefixPath(), bin);
        auto r = manager.runWine({"wineboot"});
        EXPECT_EQ(r.status, -1) << c.name;
        EXPECT_EQ(r.output.rfind("Launch failed: ", 0), 0u) << c.name << ": " << r.output;
        EXPECT_EQ(setupLog(), "--- wine wineboot ---\n" + r.output + "\n") << c.name;
    }
    EXPECT_TRUE(wine.calls().empty());
}

TEST(PrefixManagerWineTest, OutputShapes) {
    TestHome home;
    FakeWine wine;
    PrefixManager manager;
    struct Case {
        const char* name;
        std::map<std::string, std::string> control;
        std::string output;
        int status;
    };
    const Case cases[] = {
        {"stderr merged in write order", {{"run.output", "out 1\n"}, {"run.stderr", "err 2\n"}}, "out 1\nerr 2\n", 0},
        {"exit status passed on", {{"run.output", "bye"}, {"run.exit", "42"}}, "bye", 42},
        {"invalid UTF-8 gives empty text", {{"run.output", "ok \xFF\xFE ok"}, {"run.exit", "3"}}, "", 3},
        {"killed by a signal reports the signal", {{"run.output", "partial"}, {"run.signal", "9"}}, "partial", 9},
        {"20 MB", {{"run.output_mb", "20"}}, std::string(20u << 20, 'w'), 0},
    };
    for (const auto& c : cases) {
        fs::remove(PrefixManager::setupLogPath());
        wine.configure(c.control);
        auto r = manager.runWine({"prog.exe"});
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.output.size(), c.output.size()) << c.name;
        EXPECT_TRUE(r.output == c.output) << c.name;
        EXPECT_TRUE(setupLog() == "--- wine prog.exe ---\n" + c.output) << c.name;
    }
}

TEST(PrefixManagerWineTest, ReturnsWhenWineExitsWhileItsServerHoldsThePipe) {
    TestHome home;
    FakeWine wine;
    PrefixManager manager;
    wine.set("run.output", "installer done\n");
    wine.set("run.server", 1);
    wine.set("run.child", 120);
    const auto start = std::chrono::steady_clock::now();
    auto r = manager.runWine({"SteamSetup.exe"});
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "installer done\n");
    EXPECT_EQ(wine.livePids().size(), 2u) << "server and child should still hold the pipe";
    EXPECT_LT(took, 60.0) << "the runner waited for the pipe instead of the process";
}

TEST(PrefixManagerWineTest, UnusableSetupLogNeverChangesTheResult) {
    TestHome home;
    FakeWine wine;
    PrefixManager manager;
    const std::string log = PrefixManager::setupLogPath();

    // Not UTF-8: replaced by the new section alone.
    writeFile(log, "old \xC0\xAF text\n");
    EXPECT_EQ(manager.runWine({"--version"}).output, "wine-11.4 (Staging)\n");
    EXPECT_EQ(setupLog(), "--- wine --version ---\nwine-11.4 (Staging)\n");

    // Cannot be read or replaced: a directory in its place.
    fs::remove(log);
    fs::create_directories(log + "/inside");
    auto r = manager.runWine({"--version"});
    EXPECT_EQ(r.output, "wine-11.4 (Staging)\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::is_directory(log + "/inside"));
    EXPECT_TRUE(strayTempFiles().empty());
}

TEST(PrefixManagerWineTest, ConcurrentCommandsKeepSectionsWhole) {
    TestHome home;
    FakeWine wine;
    PrefixManager manager;
    wine.set("run.output_mb", 1);
    constexpr int kThreads = 6, kRuns = 3;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&manager, t] {
            for (int i = 0; i < kRuns; ++i) {
                auto r = manager.runWine({"T" + std::to_string(t) + "-" + std::to_string(i) + ".exe"});
                EXPECT_EQ(r.output.size(), 1u << 20);
            }
        });
    }
    for (auto& th : threads) th.join();

    // Every section is "--- wine Tt-i.exe ---\n" + 1 MiB, joined by "\n".
    const std::string body(1u << 20, 'w');
    const std::string text = setupLog();
    std::set<std::string> seen;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t headerEnd = text.find(" ---\n", pos);
        ASSERT_NE(headerEnd, std::string::npos);
        const std::string header = text.substr(pos, headerEnd - pos);
        ASSERT_TRUE(std::regex_match(header, std::regex(R"(--- wine T\d-\d\.exe)"))) << header.substr(0, 80);
        seen.insert(header);
        pos = headerEnd + 5;
        ASSERT_EQ(text.compare(pos, body.size(), body), 0) << "section torn: " << header;
        pos += body.size();
        if (pos < text.size()) {
            ASSERT_EQ(text[pos], '\n');
            ++pos;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kRuns));
    EXPECT_TRUE(strayTempFiles().empty());
}

TEST(PrefixManagerWineTest, CreatePrefixOutcomes) {
    const std::string longOutput = std::string(300, 'x') + std::string(1700, 'y');
    std::string umlauts;
    for (int i = 0; i < 700; ++i) umlauts += "\xC3\xBC";
    struct Case {
        const char* name;
        std::map<std::string, std::string> control;
        bool removeWine;
        bool result;
        std::vector<std::string> statuses;
        std::string perfExit;
        std::string lastLine;  // empty: the launch failure ERROR line
    };
    const Case cases[] = {
        {"created", {}, false, true, {"Creating Wine prefix..."}, "0", "[INFO] Prefix created: true"},
        {"exit 0 without system.reg",
         {{"wineboot.create", "noreg"}},
         false,
         false,
         {"Creating Wine prefix..."},
         "0",
         "[INFO] Prefix created: false"},
        {"exit 1 with 2000 characters",
         {{"wineboot.exit", "1"}, {"wineboot.output", longOutput}},
         false,
         false,
         {"Creating Wine prefix...", "Failed to create Wine prefix"},
         "1",
         "[ERROR] wineboot failed: " + longOutput.substr(0, 500)},
        {"characters, not bytes",
         {{"wineboot.exit", "2"}, {"wineboot.output", umlauts}},
         false,
         false,
         {"Creating Wine prefix...", "Failed to create Wine prefix"},
         "2",
         "[ERROR] wineboot failed: " + umlauts.substr(0, 1000)},
        {"killed",
         {{"wineboot.signal", "9"}},
         false,
         false,
         {"Creating Wine prefix...", "Failed to create Wine prefix"},
         "9",
         "[ERROR] wineboot failed: "},
        {"wine missing", {}, true, false, {"Creating Wine prefix...", "Failed to create Wine prefix"}, "-1", ""},
    };
    TestHome home;
    FakeWine wine;
    Logger::shared();
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        wine.configure(c.control);
        fs::resize_file(Logger::logPath(), 0);
        const std::string prefix = home.root() + "/case " + std::to_string(++n) + "/prefix";
        PrefixManager manager(prefix, c.removeWine ? home.root() + "/no/wine" : Constants::wineBin());
        StatusLines status;
        EXPECT_EQ(manager.createPrefix(status.callback()), c.result);
        EXPECT_EQ(status.lines, c.statuses);
        EXPECT_EQ(manager.prefixExists(), c.result);

        auto lines = logLines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0], "[INFO] Creating Wine prefix at " + prefix);
        EXPECT_EQ(lines[1], "[INFO] runWine: wineboot");
        EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\[PERF\] wineboot completed in \d+\.\ds, exit code: )" +
                                                          std::regex_replace(c.perfExit, std::regex("-"), "\\-"))))
            << lines[2];
        if (c.lastLine.empty()) {
            EXPECT_EQ(lines[3].rfind("[ERROR] wineboot failed: Launch failed: ", 0), 0u) << lines[3];
        } else {
            EXPECT_EQ(lines[3], c.lastLine);
        }
    }
}

TEST(PrefixManagerWineTest, RunInstallerOutcomes) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> control;
        bool removeWine;
        bool steamBefore;
        bool result;
        std::string exitText;
    };
    const Case cases[] = {
        {"installed", {{"run.steam", "1"}}, false, false, true, "0"},
        {"non-zero exit but installed", {{"run.steam", "1"}, {"run.exit", "2"}}, false, false, true, "2"},
        {"cancelled", {}, false, false, false, "0"},
        {"wine missing", {}, true, false, false, "-1"},
        {"wine missing, Steam already there", {}, true, true, true, "-1"},
    };
    TestHome home;
    FakeWine wine;
    Logger::shared();
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        wine.configure(c.control);
        const std::string prefix = home.root() + "/case " + std::to_string(++n) + "/prefix";
        PrefixManager manager(prefix, c.removeWine ? home.root() + "/no/wine" : Constants::wineBin());
        if (c.steamBefore) writeFile(prefix + Constants::steamExeUnix, "steam");
        fs::resize_file(Logger::logPath(), 0);
        const size_t callsBefore = wine.calls("wine").size();

        const std::string installer = home.tmp() + "/Steam Setup \"v2\"; echo pwned.exe";
        StatusLines status;
        EXPECT_EQ(manager.runInstaller(installer, status.callback()), c.result);
        std::vector<std::string> statuses = {"Running installer (complete the setup)..."};
        if (c.exitText != "0") statuses.push_back("Installation may have failed (exit code " + c.exitText + ")");
        EXPECT_EQ(status.lines, statuses);
        const std::vector<std::string> lines = {"[INFO] Running user-provided installer: " + installer,
                                                "[INFO] runWine: " + installer,
                                                "[INFO] Installer exited with code " + c.exitText};
        EXPECT_EQ(logLines(), lines);
        auto calls = wine.calls("wine");
        ASSERT_EQ(calls.size(), callsBefore + (c.removeWine ? 0 : 1));
        if (!c.removeWine) {
            EXPECT_EQ(calls.back().args, std::vector<std::string>{installer});
        }
    }
}
