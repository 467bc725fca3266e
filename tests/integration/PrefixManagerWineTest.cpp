// PrefixManager against the fake Wine runtime, real copies of the built bundle's DLLs and real directory
// trees: the setup log, prefix creation, DLL deployment, installers, backup, restore and size.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "logging/Logger.h"
#include "runtime/RuntimeValidator.h"
#include "support/FakeWine.h"
#include "support/GraphicsBundle.h"
#include "support/TestHome.h"
#include "support/Undeletable.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testing::HasSubstr;
using testsupport::readFile;
using testsupport::writeFile;
using Lines = std::vector<std::string>;
using Control = std::map<std::string, std::string>;

namespace {

struct PrefixManagerWineTest : testing::Test {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    PrefixManager manager;
    const std::string log = PrefixManager::setupLogPath();
    Lines status;
    StatusCallback collect = [this](const std::string& s) { status.push_back(s); };
    const std::string prefix = home.root() + "/Application Support/pre fix \xC3\xBC";
    PrefixManager files{prefix};  // for the tests on directory trees
};

}  // namespace

// The log grows in place (a reader holding it sees every section) unless it is not UTF-8; a letter
// split by the 1 MiB reading block still is. A log that cannot be written changes no result.
TEST_F(PrefixManagerWineTest, SetupLog) {
    const std::string earlier = std::string((1 << 20) - 1, 'a') + "\xC3\xA9";
    writeFile(log, earlier);
    writeFile(log + ".k3Jq9Z", "half a replace");  // left by a launcher killed mid-replace
    writeFile(log + ".old", "the user's own copy");
    std::ifstream reader(log);
    wine.set("run.output", "done");
    (void)manager.runWine({"C:\\My Setup.exe", "/S"});
    const auto failed = PrefixManager(manager.prefixPath(), home.root() + "/no/wine").runWine({"--version"});
    EXPECT_TRUE(failed.status == -1 && failed.output.rfind("Launch failed: ", 0) == 0) << failed.output;
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}),
              earlier + "\n--- wine C:\\My Setup.exe /S ---\ndone--- wine --version ---\n" + failed.output + "\n");
    EXPECT_TRUE(!fs::exists(log + ".k3Jq9Z") && fs::remove(log + ".old"));
    writeFile(log, std::string(70000, 'b') + "\xE2\x82");  // ends inside a letter
    (void)manager.runWine({"wineboot"});
    EXPECT_EQ(readFile(log), "--- wine wineboot ---\n");
    fs::remove(log);
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);  // nobody reads it: opening it must not wait
    (void)manager.runWine({"wineboot"});
    EXPECT_EQ(readFile(log), "--- wine wineboot ---\n");
    fs::remove(log);
    fs::create_directories(log + "/inside");
    const auto r = manager.runWine({"--version"});
    EXPECT_EQ(r.output + std::to_string(r.status), "wine-11.4 (Staging)\n0");
    for (const auto& e : fs::directory_iterator(fs::path(log).parent_path()))  // no temporary file left
        EXPECT_EQ(e.path().filename().string().rfind("setup-output.log.", 0), std::string::npos) << e.path();
}

// Invalid UTF-8 gives empty text; a killed Wine, the signal. Concurrent commands keep their sections whole.
TEST_F(PrefixManagerWineTest, OutputAndConcurrentSections) {
    for (const auto& [control, want] :
         {std::pair<Control, std::string>{{{"run.output", "\xFF"}, {"run.exit", "3"}}, "3 "},
          {{{"run.output", "partial"}, {"run.signal", "9"}}, "9 partial"}}) {
        wine.configure(control);
        const auto r = manager.runWine({"prog.exe"});
        EXPECT_EQ(std::to_string(r.status) + " " + r.output, want);
    }
    fs::remove(log);
    const std::string body(1u << 20, 'w');  // more than a pipe holds
    wine.configure({{"run.output", body}});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t] { (void)manager.runWine({"T" + std::to_string(t) + ".exe"}); });
    for (auto& th : threads) th.join();
    const std::string text = readFile(log);
    EXPECT_EQ(text.size(), 3 + 4 * (body.size() + 20));  // four sections joined by "\n", nothing else
    for (int t = 0; t < 4; ++t) EXPECT_THAT(text, HasSubstr("--- wine T" + std::to_string(t) + ".exe ---\n" + body));
}

TEST_F(PrefixManagerWineTest, CreatePrefixAndCheckVersion) {
    const std::string answer = std::string(300, 'a') + std::string(300, 'b');
    const Lines failedStatus = {"Creating Wine prefix...", "Failed to create Wine prefix"};
    const std::tuple<Control, std::string, Lines> cases[] = {
        {{{"wineboot.create", "noreg"}}, manager.wineBin(), {"Creating Wine prefix..."}},  // no registry: no prefix
        {{{"wineboot.exit", "1"}, {"wineboot.output", answer}}, manager.wineBin(), failedStatus},
        {{}, home.root() + "/no/wine", failedStatus},
    };
    for (const auto& [control, wineBin, statuses] : cases) {
        wine.configure(control);
        status.clear();
        PrefixManager m(home.root() + "/new prefix", wineBin);
        EXPECT_FALSE(m.createPrefix(collect) || m.prefixExists());
        EXPECT_EQ(status, statuses);
    }
    // Wine's answer to a failed wineboot is logged to its first 500 characters.
    EXPECT_THAT(readFile(Logger::logPath()), HasSubstr("] [ERROR] wineboot failed: " + answer.substr(0, 500) + "\n"));
    // The version is Wine's answer trimmed, and it must start with the required one.
    for (const auto& [output, want] :
         {std::pair{" \twine-11.4 (Staging)\r\n", "1 wine-11.4 (Staging)"}, {"Wine wine-11.4\n", "0 Wine wine-11.4"}}) {
        wine.set("version.output", output);
        const auto check = manager.checkWineVersion();
        EXPECT_EQ(std::to_string(check.valid) + " " + check.version, want);
    }
}

TEST_F(PrefixManagerWineTest, DeployCopiesWritesTheRegistryAndDetectsAnyLaterChange) {
    const auto artifacts = testsupport::GraphicsBundle(home.bundle()).manifest().artifacts;
    const auto deployed = [&](size_t i) { return RuntimeValidator::deployedPath(manager.prefixPath(), artifacts[i]); };
    const auto copied = [&] {  // how many DLLs, in manifest order, were copied before the first that was not
        size_t n = 0;
        while (n < 6 && fs::is_regular_file(deployed(n)) &&
               readFile(deployed(n)) == readFile(home.bundle() + "/" + artifacts[n].path))
            ++n;
        return n;
    };
    const std::string configuring = "Configuring environment...";
    // damage, last status (a fault stops before the registry is written), DLLs copied, result
    const std::tuple<std::function<void()>, std::string, size_t, bool> cases[] = {
        {[&] { writeFile(deployed(2), "old"); }, configuring, 6, true},
        {[&] { fs::remove(home.bundle() + "/" + artifacts[5].path); },  // libz-1.dll of mesa-i686 only
         "A required component is missing.\nPlease reinstall Ferrowick.", 5, false},
        {[&] { fs::remove_all(manager.prefixPath() + "/drive_c/windows/syswow64"); },
         "Failed to install a required component.", 3, false},
        {[&] { wine.set("reg.exit", 1); }, configuring, 6, true},
    };
    for (const auto& [damage, lastStatus, copies, result] : cases) {
        wine.configure({});
        fs::remove_all(manager.prefixPath());
        testsupport::GraphicsBundle restaged(home.bundle());
        ASSERT_TRUE(manager.createPrefix({}));
        damage();
        status.clear();
        const size_t callsBefore = wine.calls("wine").size();
        EXPECT_EQ(manager.deployMesaDLLs(collect), result) << lastStatus;
        EXPECT_EQ(status, (Lines{"Installing components...", lastStatus}));
        EXPECT_EQ(wine.calls("wine").size() - callsBefore, lastStatus == configuring ? 5u : 0u) << lastStatus;
        EXPECT_EQ(copied(), copies) << lastStatus;
        EXPECT_EQ(manager.mesaDLLsDeployed(), result) << lastStatus;
    }
    for (size_t i = 0; i < 6; ++i) {  // any one deployed copy changed makes the whole set stale
        const std::string original = readFile(deployed(i));
        writeFile(deployed(i), original + "x");
        EXPECT_FALSE(manager.mesaDLLsDeployed()) << deployed(i);
        writeFile(deployed(i), original);
    }
    // The values reach the prefix's user.reg, where the registry report finds the overrides.
    wine.configure({});
    ASSERT_TRUE(manager.deployMesaDLLs({}) && manager.mesaDLLsDeployed());
    EXPECT_EQ(Logger::registryOverrideLines(readFile(manager.prefixPath() + "/user.reg")),
              (Lines{"  Override: \"opengl32\"=\"native\"", "  Override: \"libgallium_wgl\"=\"native\""}));
}

TEST_F(PrefixManagerWineTest, RunInstallerPassesThePathAsOneArgument) {
    const std::string installer = home.tmp() + "/it's \"Steam\" $(touch PWNED); touch PWNED.exe";
    // control, exit, Steam installed afterwards
    for (const auto& [control, exit, result] : {std::tuple<Control, std::string, bool>{{}, "0", false},
                                                {{{"run.steam", "1"}, {"run.exit", "2"}}, "2", true}}) {
        wine.configure(control);
        status.clear();
        EXPECT_EQ(manager.runInstaller(installer, collect), result);
        Lines statuses = {"Running installer (complete the setup)..."};
        if (exit != "0") statuses.push_back("Installation may have failed (exit code " + exit + ")");
        EXPECT_EQ(status, statuses);
        EXPECT_EQ(wine.calls().back().args, Lines{installer});
        EXPECT_THAT(readFile(Logger::logPath()),
                    testing::AllOf(HasSubstr("] [INFO] Running user-provided installer: " + installer + "\n"),
                                   HasSubstr("] [INFO] Installer exited with code " + exit + "\n")));
    }
    EXPECT_FALSE(fs::exists("PWNED") || fs::exists(home.tmp() + "/PWNED"));
}

// Only a path of a backup's form is ever removed; a backup never replaces an earlier (even empty) one.
TEST_F(PrefixManagerWineTest, BackupAndDelete) {
    writeFile(prefix + "/system.reg", "old registry");
    const auto backup = files.backupPrefix();
    ASSERT_TRUE(backup && !fs::exists(prefix));
    writeFile(prefix + "/system.reg", "rebuilt");
    files.deleteBackup(*backup);
    EXPECT_FALSE(fs::exists(*backup));
    const std::string other = home.root() + "/other";
    writeFile(other + "/file", "keep");
    writeFile(prefix + ".backup.12x/file", "keep");
    for (const std::string& path : {prefix, std::string(), other, prefix + ".backup.", prefix + ".backup.12x"})
        files.deleteBackup(path);
    EXPECT_EQ(readFile(prefix + "/system.reg") + readFile(other + "/file") + readFile(prefix + ".backup.12x/file"),
              "rebuiltkeepkeep");
    // Every name a backup may take in the next seconds is an empty backup, which rename() would replace.
    const auto now = std::chrono::system_clock::now().time_since_epoch() / std::chrono::seconds(1);
    for (auto s = now; s < now + 10; ++s) fs::create_directories(prefix + ".backup." + std::to_string(s));
    EXPECT_FALSE(files.backupPrefix().has_value());
    EXPECT_EQ(readFile(prefix + "/system.reg"), "rebuilt");
}

TEST_F(PrefixManagerWineTest, RestoreNeverLosesTheBackupOrAPrefixForNothing) {
    writeFile(prefix + "/system.reg", "good");
    const auto backup = files.backupPrefix();
    ASSERT_TRUE(backup.has_value());
    writeFile(prefix + "/stuck/file", "broken");
    {
        // The failed prefix cannot be removed completely: false, and both stay.
        testsupport::Undeletable pin(prefix + "/stuck/file");
        if (!pin.active()) GTEST_SKIP() << "this file system cannot pin a file";
        EXPECT_FALSE(files.restoreBackup(*backup));
        EXPECT_EQ(readFile(*backup + "/system.reg"), "good");
    }
    for (const std::string& missing : {prefix + ".backup.1", prefix}) {  // nothing to put back: the prefix stays
        EXPECT_FALSE(files.restoreBackup(missing));
        EXPECT_EQ(readFile(prefix + "/stuck/file"), "broken") << missing;
    }
    EXPECT_TRUE(files.restoreBackup(*backup));
    EXPECT_EQ(readFile(prefix + "/system.reg"), "good");
    EXPECT_FALSE(fs::exists(prefix + "/stuck") || fs::exists(*backup));
}

// The prefix may itself be a link to where it lives; links below it count as links.
TEST_F(PrefixManagerWineTest, SizeFollowsThePrefixLinkOnly) {
    const std::string real = home.root() + "/real prefix", outside = home.root() + "/outside.bin";
    writeFile(real + "/user.reg", "12345");
    writeFile(outside, std::string(1000, 'x'));
    fs::create_directories(fs::path(prefix).parent_path());
    fs::create_directory_symlink(real, prefix);
    fs::create_symlink(outside, real + "/link");
    EXPECT_EQ(files.prefixSizeBytes(), 5 + static_cast<int64_t>(outside.size()));
}
