#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "logging/DiagnosticsExporter.h"
#include "platform/Subprocess.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/Constants.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::FakeWine;
using testsupport::readFile;
using testsupport::TestHome;
using testsupport::writeFile;
using Names = std::multiset<std::string>;

namespace {

std::string run(const std::string& tool, std::vector<std::string> args) {
    platform::SubprocessSpec child{tool, std::move(args), {}, platform::OutputMode::PipeStdout};
    auto r = platform::Subprocess::run(child);
    return r ? r->output : std::string();
}

// Entry names exactly as stored, read back with the real unzip; a directory
// entry or a path prefix would show up here.
Names entries(const std::string& archive) {
    Names names;
    std::istringstream in(run("/usr/bin/unzip", {"-Z1", archive}));
    for (std::string l; std::getline(in, l);) names.insert(l);
    return names;
}

std::string entry(const std::string& archive, const std::string& name) {
    return run("/usr/bin/unzip", {"-p", archive, name});
}

std::string numberedLines(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

std::string tmpDir() {
    return std::string(std::getenv("TMPDIR")) + "/";
}
std::string stagingPath() {
    return tmpDir() + "quillmoor-diagnostics";
}
std::string archivePath() {
    return tmpDir() + "quillmoor-diagnostics.zip";
}

// Everything in the temporary directory except the archive: staging and
// work directories must be gone however the export ends.
Names leftovers() {
    Names names;
    for (const auto& e : fs::directory_iterator(tmpDir())) names.insert(e.path().filename().string());
    names.erase("quillmoor-diagnostics.zip");
    return names;
}

std::string executableScript(const std::string& path, const std::string& body) {
    writeFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

const Names kAlwaysWritten = {"wine_version.txt", "macos_version.txt", "env_vars.txt"};

}  // namespace

TEST(DiagnosticsExporterTest, NothingOptionalGivesTheThreeAlwaysWrittenEntries) {
    TestHome home;
    FakeWine wine;
    ::setenv("mesa_no_error", "1", 1);
    ::setenv("WINEDEBUG", "+relay", 1);  // shadowed by the setting Wine children get
    ::unsetenv("WINEPREFIX");
    wine.set("version.stderr", "fixme: not part of the version\n");
    const std::string prefix = home.supportDir() + "/prefix";
    fs::create_directories(prefix + "/drive_c/users/steamuser/AppData/Roaming/Vantor Games/Quillmoor/p1/logs");

    const auto archive = DiagnosticsExporter::exportArchive(prefix);
    ASSERT_TRUE(archive);
    EXPECT_EQ(*archive, archivePath());
    EXPECT_EQ(entries(*archive), kAlwaysWritten);
    EXPECT_EQ(entry(*archive, "wine_version.txt"), "wine-11.4 (Staging)\n");
    EXPECT_EQ(entry(*archive, "macos_version.txt"), "");  // no sw_vers on this system
    EXPECT_EQ(entry(*archive, "env_vars.txt"),
              "GALLIUM_DRIVER=zink\nMESA_GL_VERSION_OVERRIDE=4.5\nMESA_GLSL_VERSION_OVERRIDE=450\n"
              "mesa_glthread=true\nmesa_no_error=1\nMVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS=0\n"
              "MVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS=0\nMVK_CONFIG_LOG_LEVEL=0\nWINEESYNC=1\nWINEDEBUG=-all\n"
              "WINEPREFIX=(not set)\n");
    EXPECT_EQ(leftovers(), Names{});
}

TEST(DiagnosticsExporterTest, EverySourcePresentFillsTheFlatArchive) {
    TestHome home;
    FakeWine wine;
    const std::string prefix = home.supportDir() + "/prefix";
    // The prefix and its setup log come from the real prefix service over the fake Wine.
    PrefixManager manager;
    ASSERT_TRUE(manager.createPrefix([](const std::string&) {}));
    const std::string setupLog = readFile(PrefixManager::setupLogPath());
    ASSERT_NE(setupLog, "");
    writeFile(Constants::stateFile(), "{\"phase\":\"ready\"}\n");
    writeFile(prefix + "/drive_c/Program Files (x86)/Steam/logs/console_log.txt", numberedLines(1, 5000));
    writeFile(ProcessLauncher::outputLogPath(), numberedLines(1, 5000));
    const std::string users = prefix + "/drive_c/users/", game = "/AppData/Roaming/Vantor Games/Quillmoor/";
    writeFile(users + "alice" + game + "Main Profile/logs/debug.log", "alice main\n");
    writeFile(users + "bob" + game + "Main Profile/logs/debug.log", "bob main\n");  // same name: first copy stays
    writeFile(users + "bob" + game + "Second/logs/debug.log", "bob second\n");
    writeFile(users + "Public/readme.txt", "not a profile\n");

    const auto archive = DiagnosticsExporter::exportArchive(prefix);
    ASSERT_TRUE(archive);
    EXPECT_EQ(entries(*archive), (Names{"wine_version.txt", "macos_version.txt", "env_vars.txt", "state.json",
                                        "steam_console_log.txt", "setup_output.log", "wine_steam_output.log",
                                        "game-debug-Main Profile.log", "game-debug-Second.log"}));
    EXPECT_EQ(entry(*archive, "state.json"), "{\"phase\":\"ready\"}\n");
    EXPECT_EQ(entry(*archive, "steam_console_log.txt"), numberedLines(4001, 5000));
    EXPECT_EQ(entry(*archive, "setup_output.log"), setupLog);
    EXPECT_EQ(entry(*archive, "wine_steam_output.log"), numberedLines(3001, 5000));
    EXPECT_EQ(entry(*archive, "game-debug-Main Profile.log"), "alice main\n");
    EXPECT_EQ(entry(*archive, "game-debug-Second.log"), "bob second\n");
    EXPECT_EQ(leftovers(), Names{});
}

TEST(DiagnosticsExporterTest, VersionOutputThatIsNotTextBecomesUnknown) {
    TestHome home;
    FakeWine wine;
    wine.set("version.output", "wine-11.4\xFF\n");
    DiagnosticsExporter::Tools tools;
    tools.swVers = executableScript(home.root() + "/sw_vers", "printf 'ProductVersion:\\t14.5\\n'\n");

    const auto archive = DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix", tools);
    ASSERT_TRUE(archive);
    EXPECT_EQ(entry(*archive, "wine_version.txt"), "unknown");
    EXPECT_EQ(entry(*archive, "macos_version.txt"), "ProductVersion:\t14.5\n");
}

TEST(DiagnosticsExporterTest, EarlierArchiveIsReplacedNotAddedTo) {
    TestHome home;
    FakeWine wine;
    writeFile(home.root() + "/stale.txt", "old export\n");
    run("/usr/bin/zip", {"-j", archivePath(), home.root() + "/stale.txt"});
    ASSERT_EQ(entries(archivePath()), Names{"stale.txt"});

    const auto archive = DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix");
    ASSERT_TRUE(archive);
    EXPECT_EQ(entries(*archive), kAlwaysWritten);
}

TEST(DiagnosticsExporterTest, FailedPackingGivesNothingAndLeavesNothing) {
    TestHome home;
    FakeWine wine;
    for (const char* zip : {"/nonexistent/zip", "/bin/false"}) {
        writeFile(archivePath(), "earlier archive");
        DiagnosticsExporter::Tools tools;
        tools.zip = zip;
        EXPECT_FALSE(DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix", tools)) << zip;
        EXPECT_FALSE(fs::exists(archivePath())) << zip << ": an earlier archive must not pass for this one";
        EXPECT_EQ(leftovers(), Names{}) << zip;
    }
}

TEST(DiagnosticsExporterTest, PlantedLinksAreNeverFollowed) {
    struct Case {
        const char* name;
        std::string (*at)();
        bool whilePacking;  // planted between the removal of the old archive and its replacement
    } cases[] = {
        {"staging directory", stagingPath, false},
        {"archive", archivePath, false},
        {"archive, while zip runs", archivePath, true},
    };
    TestHome home;
    FakeWine wine;
    const std::string victim = home.root() + "/victim", modeRecord = home.root() + "/staging-mode";
    for (const auto& c : cases) {
        fs::remove_all(victim);
        writeFile(victim + "/precious.txt", "keep me\n");
        DiagnosticsExporter::Tools tools;
        // Stands in for another local user acting while the real zip is started.
        tools.zip = executableScript(home.root() + "/zip",
                                     "for last; do :; done\n/usr/bin/stat -c %a \"$last\" > '" + modeRecord + "'\n" +
                                         (c.whilePacking ? "/bin/ln -s '" + victim + "' '" + c.at() + "'\n" : "") +
                                         "exec /usr/bin/zip \"$@\"\n");
        if (!c.whilePacking) fs::create_directory_symlink(victim, c.at());

        const auto archive = DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix", tools);
        ASSERT_TRUE(archive) << c.name;
        EXPECT_FALSE(fs::is_symlink(*archive)) << c.name;
        EXPECT_EQ(entries(*archive), kAlwaysWritten) << c.name;
        EXPECT_EQ(readFile(modeRecord), "700\n") << c.name << ": the staging directory is private";
        std::set<std::string> victimFiles;
        for (const auto& e : fs::directory_iterator(victim)) victimFiles.insert(e.path().filename().string());
        EXPECT_EQ(victimFiles, std::set<std::string>{"precious.txt"}) << c.name;
        EXPECT_EQ(readFile(victim + "/precious.txt"), "keep me\n") << c.name;
        EXPECT_EQ(leftovers(), Names{}) << c.name;
        fs::remove(archivePath());
    }
}

TEST(DiagnosticsExporterTest, StagingThatCannotBeMadeSafelyGivesNothing) {
    TestHome home;
    FakeWine wine;
    // Tests run as root: another user's directory is made by handing one over.
    fs::create_directories(stagingPath());
    writeFile(stagingPath() + "/theirs.txt", "theirs\n");
    ASSERT_EQ(::chown(stagingPath().c_str(), 65534, 65534), 0);
    EXPECT_FALSE(DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix"));
    EXPECT_EQ(readFile(stagingPath() + "/theirs.txt"), "theirs\n");
    EXPECT_FALSE(fs::exists(archivePath()));

    // A regular file where the temporary directory should be.
    const std::string blocked = home.root() + "/not-a-dir";
    writeFile(blocked, "x");
    ::setenv("TMPDIR", blocked.c_str(), 1);
    EXPECT_FALSE(DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix"));
    EXPECT_EQ(readFile(blocked), "x");
}
