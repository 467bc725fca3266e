// PrefixManager's Wine commands against the fake Wine runtime: the runner,
// the setup log, the version check, prefix creation and the installer runner.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>

#include "support/FakeWine.h"
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
    EXPECT_EQ(failed.status, -1);
    EXPECT_EQ(failed.output.rfind("Launch failed: ", 0), 0u) << failed.output;
    EXPECT_EQ(readFile(log), "--- wine --version ---\n" + kVersion + "\n--- wine wineboot ---\n\n--- wine C:\\My " +
                                 "Setup.exe /S ---\ndone--- wine --version ---\n" + failed.output + "\n");

    // A log that is not UTF-8 is replaced by the new section alone; one that
    // cannot be replaced changes nothing in the result and leaves no temporary file.
    writeFile(log, "old \xC0\xAF text\n");
    (void)manager.runWine({"wineboot"});
    EXPECT_EQ(readFile(log), "--- wine wineboot ---\n");
    fs::remove(log);
    fs::create_directories(log + "/inside");
    const auto r = manager.runWine({"--version"});
    EXPECT_EQ(r.output + std::to_string(r.status), kVersion + "0");
    for (const auto& e : fs::directory_iterator(fs::path(log).parent_path()))
        EXPECT_EQ(e.path().filename().string().rfind("setup-output.log.", 0), std::string::npos) << e.path();
}

TEST_F(PrefixManagerWineTest, OutputShapes) {
    const std::tuple<Control, std::string, int> cases[] = {
        {{{"run.output", "out 1\n"}, {"run.stderr", "err 2\n"}}, "out 1\nerr 2\n", 0},  // merged in write order
        {{{"run.output", "bye"}, {"run.exit", "42"}}, "bye", 42},
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
        EXPECT_EQ(r.status, exit) << output;
        EXPECT_EQ(r.output, output);
        EXPECT_EQ(readFile(log), "--- wine prog.exe ---\n" + output);
    }
    EXPECT_EQ(wine.livePids().size(), 1u) << "the child should still hold the pipe";
}

TEST_F(PrefixManagerWineTest, ConcurrentCommandsKeepSectionsWhole) {
    wine.set("run.output", std::string(1u << 20, 'w'));  // more than a pipe holds
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
    const std::tuple<std::string, std::string, bool> cases[] = {{kVersion, "wine-11.4 (Staging)", true},
                                                                {"wine-11.3\n", "wine-11.3", false},
                                                                {" \twine-11.4\r\n\n", "wine-11.4", true},
                                                                {"wine-11.4 \xFF\n", "", false}};
    wine.set("version.exit", 5);  // the status is not looked at
    for (const auto& [output, version, valid] : cases) {
        wine.set("version.output", output);
        const auto check = manager.checkWineVersion();
        EXPECT_EQ(check.version + (check.valid ? " valid" : ""), version + (valid ? " valid" : ""));
    }
    const auto missing = at(manager.prefixPath(), true).checkWineVersion();
    EXPECT_FALSE(missing.valid);
    EXPECT_EQ(missing.version.rfind("Launch failed: ", 0), 0u) << missing.version;
}

TEST_F(PrefixManagerWineTest, CreatePrefixOutcomes) {
    struct Case {
        Control control;
        bool wineMissing, created;
    };
    const Case cases[] = {{{}, false, true},
                          {{{"wineboot.create", "noreg"}}, false, false},
                          {{{"wineboot.exit", "1"}}, false, false},
                          {{{"wineboot.signal", "9"}}, false, false},
                          {{}, true, false}};
    int n = 0;
    for (const auto& c : cases) {
        wine.configure(c.control);
        status.clear();
        PrefixManager m = at(home.root() + "/case " + std::to_string(++n), c.wineMissing);
        EXPECT_EQ(m.createPrefix(collect), c.created) << n;
        EXPECT_EQ(m.prefixExists(), c.created) << n;
        // Wine succeeding without a registry is not reported as a failed run.
        Lines expected = {"Creating Wine prefix..."};
        if (!c.created && !c.control.count("wineboot.create")) expected.push_back("Failed to create Wine prefix");
        EXPECT_EQ(status, expected) << n;
    }
}

TEST_F(PrefixManagerWineTest, RunInstallerPassesThePathAsOneArgumentInTheSafeEnvironment) {
    struct Case {
        Control control;
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
        wine.configure(c.control);
        const std::string prefix = home.root() + "/Pr\xC3\xA4" + "fix " + std::to_string(++n);
        PrefixManager m = at(prefix, c.exit == "-1");
        if (c.steamBefore) writeFile(prefix + Constants::steamExeUnix, "steam");
        status.clear();
        const size_t callsBefore = wine.calls().size();

        EXPECT_EQ(m.runInstaller(installer, collect), c.result) << n;
        Lines statuses = {"Running installer (complete the setup)..."};
        if (c.exit != "0") statuses.push_back("Installation may have failed (exit code " + c.exit + ")");
        EXPECT_EQ(status, statuses);
        const auto calls = wine.calls();
        ASSERT_EQ(calls.size(), callsBefore + (c.exit != "-1"));
        if (c.exit == "-1") continue;
        EXPECT_EQ(calls.back().args, Lines{installer});
        EXPECT_EQ(calls.back().env, Constants::buildSafeEnvironment(prefix));
        EXPECT_EQ(calls.back().env.at("WINEPREFIX"), prefix);
    }
    EXPECT_FALSE(fs::exists(fs::current_path() / "pwned.exe"));
    for (const char* v : {"WINEPREFIX", "WINEDEBUG", "FERROWICK_UNLISTED"}) ::unsetenv(v);
}
