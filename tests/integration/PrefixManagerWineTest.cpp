// PrefixManager's Wine commands against the fake Wine runtime: the runner,
// the setup log, the version check, prefix creation and the installer runner.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "logging/Logger.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;
using Lines = std::vector<std::string>;

namespace {

const std::string kVersion = "wine-11.4 (Staging)\n";

struct PrefixManagerWineTest : testing::Test {
    testsupport::TestHome home;
    std::optional<testsupport::FakeWine> wine{std::in_place};
    PrefixManager manager;
    const std::string log = PrefixManager::setupLogPath();
    Lines status;
    PrefixManager::StatusCallback collect = [this](const std::string& s) { status.push_back(s); };

    std::string noWine() const { return home.root() + "/no/wine"; }
    // Launcher log lines without their time stamps, "[LEVEL] message"; the log starts afresh.
    static Lines takeLogLines() {
        Lines out;
        std::istringstream in(readFile(Logger::logPath()));
        for (std::string l; std::getline(in, l);) out.push_back(l.substr(std::min<size_t>(15, l.size())));
        fs::resize_file(Logger::logPath(), 0);
        return out;
    }
};

}  // namespace

TEST_F(PrefixManagerWineTest, SetupLogSections) {
    writeFile(log, "");  // an empty log holds no text to separate from
    EXPECT_EQ(manager.runWine({"--version"}).output, kVersion);
    EXPECT_EQ(manager.runWine({"wineboot"}).output, "");
    wine->set("run.output", "done");
    (void)manager.runWine({"C:\\My Setup.exe", "/S"});
    const auto failed = PrefixManager(manager.prefixPath(), noWine()).runWine({"--version"});
    EXPECT_EQ(failed.status, -1);
    EXPECT_EQ(failed.output.rfind("Launch failed: ", 0), 0u) << failed.output;
    EXPECT_EQ(readFile(log), "--- wine --version ---\n" + kVersion + "\n--- wine wineboot ---\n\n--- wine C:\\My " +
                                 "Setup.exe /S ---\ndone--- wine --version ---\n" + failed.output + "\n");
    // The launcher log names each command and never carries Wine's output.
    EXPECT_EQ(takeLogLines(), (Lines{"[INFO] runWine: --version", "[INFO] runWine: wineboot",
                                     "[INFO] runWine: C:\\My Setup.exe /S", "[INFO] runWine: --version"}));

    // A log that is not UTF-8 is replaced by the new section alone; one that
    // cannot be read or replaced changes nothing in the result.
    writeFile(log, "old \xC0\xAF text\n");
    (void)manager.runWine({"wineboot"});
    EXPECT_EQ(readFile(log), "--- wine wineboot ---\n");
    fs::remove(log);
    fs::create_directories(log + "/inside");
    const auto r = manager.runWine({"--version"});
    EXPECT_EQ(r.output + std::to_string(r.status), kVersion + "0");
    EXPECT_TRUE(fs::is_directory(log + "/inside"));
    for (const auto& e : fs::directory_iterator(fs::path(log).parent_path()))
        EXPECT_EQ(e.path().filename().string().rfind("setup-output.log.", 0), std::string::npos) << e.path();
}

TEST_F(PrefixManagerWineTest, WineThatCannotStart) {
    const std::string bin = home.root() + "/broken/wine";
    const std::vector<std::function<void()>> breakIt = {
        [&] { fs::remove(bin); },
        [&] { fs::permissions(bin, fs::perms::owner_read | fs::perms::owner_write); },
        [&] { fs::remove(bin), fs::create_directories(bin); },
    };
    for (const auto& damage : breakIt) {
        fs::remove_all(bin);
        fs::remove(log);
        fs::create_directories(fs::path(bin).parent_path());
        fs::copy_file(manager.wineBin(), bin);
        damage();
        const auto r = PrefixManager(manager.prefixPath(), bin).runWine({"wineboot"});
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(r.output.rfind("Launch failed: ", 0), 0u) << r.output;
        EXPECT_EQ(readFile(log), "--- wine wineboot ---\n" + r.output + "\n");
    }
    EXPECT_TRUE(wine->calls().empty());
}

TEST_F(PrefixManagerWineTest, OutputShapes) {
    struct Case {
        std::map<std::string, std::string> control;
        std::string output;
        int status;
    };
    const Case cases[] = {
        {{{"run.output", "out 1\n"}, {"run.stderr", "err 2\n"}}, "out 1\nerr 2\n", 0},  // merged in write order
        {{{"run.output", "bye"}, {"run.exit", "42"}}, "bye", 42},
        {{{"run.output", "ok \xFF\xFE ok"}, {"run.exit", "3"}}, "", 3},    // invalid UTF-8 gives empty text
        {{{"run.output", "partial"}, {"run.signal", "9"}}, "partial", 9},  // killed: the signal
        {{{"run.output_mb", "20"}}, std::string(20u << 20, 'w'), 0},
        // Ends when Wine exits although a child (as Wine's server does) holds the pipe.
        {{{"run.output", "done\n"}, {"run.child", "120"}}, "done\n", 0},
    };
    for (const auto& c : cases) {
        fs::remove(log);
        wine->configure(c.control);
        const auto start = std::chrono::steady_clock::now();
        const auto r = manager.runWine({"prog.exe"});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
        EXPECT_EQ(r.status, c.status) << c.output.substr(0, 20);
        EXPECT_TRUE(r.output == c.output) << r.output.size() << " bytes";
        EXPECT_TRUE(readFile(log) == "--- wine prog.exe ---\n" + c.output) << c.output.substr(0, 20);
    }
    const auto pids = wine->livePids();
    EXPECT_EQ(pids.size(), 1u) << "the child should still hold the pipe";
    wine.reset();  // ends what the fixture left behind
    for (int pid : pids) EXPECT_EQ(readFile("/proc/" + std::to_string(pid) + "/cmdline"), "") << pid;
}

TEST_F(PrefixManagerWineTest, ConcurrentCommandsKeepSectionsWhole) {
    wine->set("run.output_mb", 1);
    std::set<std::string> expected, seen;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 3; ++i) expected.insert("--- wine T" + std::to_string(t * 3 + i) + ".exe ---\n");
        threads.emplace_back([this, t] {
            for (int i = 0; i < 3; ++i) (void)manager.runWine({"T" + std::to_string(t * 3 + i) + ".exe"});
        });
    }
    for (auto& th : threads) th.join();
    // Each section is its header and 1 MiB, joined by "\n".
    const std::string text = readFile(log);
    for (size_t pos = 0; pos < text.size(); ++pos) {
        const size_t header = text.find(" ---\n", pos), body = header + 5;
        ASSERT_NE(header, std::string::npos);
        seen.insert(text.substr(pos, body - pos));
        pos = body + (1u << 20);
        ASSERT_EQ(text.find_first_not_of('w', body), pos < text.size() ? pos : std::string::npos);
    }
    EXPECT_EQ(seen, expected);
}

TEST_F(PrefixManagerWineTest, CheckWineVersion) {
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {kVersion, "wine-11.4 (Staging)", true}, {"wine-11.3\n", "wine-11.3", false},
        {"Wine-11.4\n", "Wine-11.4", false},     {" \twine-11.4\r\n\n", "wine-11.4", true},
        {"wine-11.4 \xFF\n", "", false},
    };
    wine->set("version.exit", 5);  // the status is not looked at
    for (const auto& [output, version, valid] : cases) {
        wine->set("version.output", output);
        const auto check = manager.checkWineVersion();
        EXPECT_EQ(check.version, version);
        EXPECT_EQ(check.valid, valid) << output;
    }
    const auto missing = PrefixManager(manager.prefixPath(), noWine()).checkWineVersion();
    EXPECT_FALSE(missing.valid);
    EXPECT_EQ(missing.version.rfind("Launch failed: ", 0), 0u) << missing.version;
}

TEST_F(PrefixManagerWineTest, CreatePrefixOutcomes) {
    const std::string longOutput = std::string(300, 'x') + std::string(1700, 'y');
    std::string umlauts;
    for (int i = 0; i < 700; ++i) umlauts += "\xC3\xBC";
    const std::string failed = "[ERROR] wineboot failed: ";
    struct Case {
        std::map<std::string, std::string> control;
        std::string exit;      // "-1": Wine missing
        std::string lastLine;  // with Wine missing, its start
    };
    const Case cases[] = {
        {{}, "0", "[INFO] Prefix created: true"},
        {{{"wineboot.create", "noreg"}}, "0", "[INFO] Prefix created: false"},
        {{{"wineboot.exit", "1"}, {"wineboot.output", longOutput}}, "1", failed + longOutput.substr(0, 500)},
        {{{"wineboot.exit", "2"}, {"wineboot.output", umlauts}}, "2", failed + umlauts.substr(0, 1000)},
        {{{"wineboot.signal", "9"}}, "9", failed},
        {{}, "-1", failed + "Launch failed: "},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lastLine.substr(0, 40));
        wine->configure(c.control);
        takeLogLines();
        status.clear();
        const std::string prefix = home.root() + "/case " + std::to_string(++n) + "/prefix";
        PrefixManager m(prefix, c.exit == "-1" ? noWine() : manager.wineBin());
        const bool created = c.lastLine.find("true") != std::string::npos;
        EXPECT_EQ(m.createPrefix(collect), created);
        EXPECT_EQ(m.prefixExists(), created);
        Lines expected = {"Creating Wine prefix..."};
        if (c.lastLine.rfind(failed, 0) == 0) expected.push_back("Failed to create Wine prefix");
        EXPECT_EQ(status, expected);
        const auto lines = takeLogLines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[0], "[INFO] Creating Wine prefix at " + prefix);
        EXPECT_EQ(lines[1], "[INFO] runWine: wineboot");
        EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\[PERF\] wineboot completed in \d+\.\ds, exit code: )" +
                                                          std::regex_replace(c.exit, std::regex("-"), "\\-"))))
            << lines[2];
        EXPECT_EQ(lines[3].substr(0, c.exit == "-1" ? c.lastLine.size() : std::string::npos), c.lastLine);
    }
}

TEST_F(PrefixManagerWineTest, RunInstallerPassesThePathAsOneArgumentInTheSafeEnvironment) {
    struct Case {
        std::map<std::string, std::string> control;
        bool steamBefore;
        std::string exit;  // "-1": Wine missing
        bool result;
    };
    const Case cases[] = {
        {{{"run.steam", "1"}}, false, "0", true},
        {{{"run.steam", "1"}, {"run.exit", "2"}}, false, "2", true},
        {{}, false, "0", false},  // cancelled
        {{}, false, "-1", false},
        {{}, true, "-1", true},
    };
    // The parent's own Wine settings and unlisted variables never reach Wine.
    for (const char* v : {"WINEPREFIX", "WINEDEBUG", "FERROWICK_UNLISTED"}) ::setenv(v, "/elsewhere", 1);
    const std::string installer = home.tmp() + "/it's \"Steam\" Setup; touch pwned.exe";
    int n = 0;
    for (const auto& c : cases) {
        wine->configure(c.control);
        const std::string prefix = home.root() + "/Pr\xC3\xA4" + "fix " + std::to_string(++n);
        PrefixManager m(prefix, c.exit == "-1" ? noWine() : manager.wineBin());
        if (c.steamBefore) writeFile(prefix + Constants::steamExeUnix, "steam");
        takeLogLines();
        status.clear();
        const size_t callsBefore = wine->calls().size();

        EXPECT_EQ(m.runInstaller(installer, collect), c.result) << n;
        Lines statuses = {"Running installer (complete the setup)..."};
        if (c.exit != "0") statuses.push_back("Installation may have failed (exit code " + c.exit + ")");
        EXPECT_EQ(status, statuses);
        EXPECT_EQ(takeLogLines(),
                  (Lines{"[INFO] Running user-provided installer: " + installer, "[INFO] runWine: " + installer,
                         "[INFO] Installer exited with code " + c.exit}));
        const auto calls = wine->calls();
        ASSERT_EQ(calls.size(), callsBefore + (c.exit != "-1"));
        if (c.exit == "-1") continue;
        EXPECT_EQ(calls.back().args, Lines{installer});
        EXPECT_EQ(calls.back().env, Constants::buildSafeEnvironment(prefix));
        EXPECT_EQ(calls.back().env.at("WINEPREFIX"), prefix);
    }
    EXPECT_FALSE(fs::exists(fs::current_path() / "pwned.exe"));
    for (const char* v : {"WINEPREFIX", "WINEDEBUG", "FERROWICK_UNLISTED"}) ::unsetenv(v);
}
