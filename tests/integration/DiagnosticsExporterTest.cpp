#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
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

namespace fs = std::filesystem;
using testsupport::FakeWine;
using testsupport::readFile;
using testsupport::TestHome;
using testsupport::writeFile;

namespace {

std::string run(const std::string& tool, std::vector<std::string> args) {
    platform::SubprocessSpec spec;
    spec.executable = tool;
    spec.arguments = std::move(args);
    spec.output = platform::OutputMode::StdoutPipe;
    auto r = platform::Subprocess::run(spec);
    return r ? r->output : std::string();
}

// Entry names as stored in the archive, read back with the real unzip.
std::vector<std::string> entries(const std::string& archive) {
    std::vector<std::string> names;
    std::istringstream in(run("/usr/bin/unzip", {"-Z1", archive}));
    for (std::string l; std::getline(in, l);) names.push_back(l);
    return names;
}

std::set<std::string> entrySet(const std::string& archive) {
    auto names = entries(archive);
    return {names.begin(), names.end()};
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

bool isLink(const std::string& path) {
    std::error_code ec;
    return fs::is_symlink(path, ec);
}

// What is left in the temporary directory besides the archive.
std::vector<std::string> leftovers() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(tmpDir())) {
        if (e.path().filename() != "quillmoor-diagnostics.zip") names.push_back(e.path().filename().string());
    }
    return names;
}

const std::set<std::string> kAlwaysWritten = {"wine_version.txt", "macos_version.txt", "env_vars.txt"};

}  // namespace

TEST(DiagnosticsExporterTest, NothingOptionalGivesTheThreeAlwaysWrittenEntries) {
    TestHome home;
    FakeWine wine;
    ::setenv("mesa_no_error", "1", 1);
    ::setenv("WINEDEBUG", "+relay", 1);  // the Wine setting is what Wine children get
    ::unsetenv("WINEPREFIX");
    wine.set("version.stderr", "fixme: not for the file\n");
    const std::string prefix = home.supportDir() + "/prefix";
    fs::create_directories(prefix + "/drive_c/users/steamuser/AppData/Roaming/Vantor Games/Quillmoor/p1");

    const auto archive = DiagnosticsExporter::exportArchive(prefix);
    ASSERT_TRUE(archive);
    EXPECT_EQ(*archive, archivePath());
    EXPECT_EQ(entrySet(*archive), kAlwaysWritten);
    EXPECT_EQ(entry(*archive, "wine_version.txt"), "wine-11.4 (Staging)\n");
    EXPECT_EQ(entry(*archive, "macos_version.txt"), "");  // no sw_vers on this system
    EXPECT_EQ(entry(*archive, "env_vars.txt"),
              "GALLIUM_DRIVER=zink\n"
              "MESA_GL_VERSION_OVERRIDE=4.5\n"
              "MESA_GLSL_VERSION_OVERRIDE=450\n"
              "mesa_glthread=true\n"
              "mesa_no_error=1\n"
              "MVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS=0\n"
              "MVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS=0\n"
              "MVK_CONFIG_LOG_LEVEL=0\n"
              "WINEESYNC=1\n"
              "WINEDEBUG=-all\n"
              "WINEPREFIX=(not set)\n");
    EXPECT_EQ(wine.calls("wine").size(), 1u);
    EXPECT_TRUE(leftovers().empty());
}

TEST(DiagnosticsExporterTest, EverySourcePresentFillsTheFlatArchive) {
    TestHome home;
    FakeWine wine;
    const std::string prefix = home.supportDir() + "/prefix";
    writeFile(Constants::stateFile(), "{\"phase\":\"ready\"}\n");
    writeFile(prefix + "/drive_c/Program Files (x86)/Steam/logs/console_log.txt", numberedLines(1, 5000));
    const std::string setupLog = "setup \xC3\xBC\n" + numberedLines(1, 3000);
    writeFile(home.supportDir() + "/setup-output.log", setupLog);
    writeFile(ProcessLauncher::outputLogPath(), numberedLines(1, 5000));
    const std::string users = prefix + "/drive_c/users";
    const std::string game = "/AppData/Roaming/Vantor Games/Quillmoor/";
    writeFile(users + "/alice" + game + "Main Profile/logs/debug.log", "alice main\n");
    writeFile(users + "/bob" + game + "Main Profile/logs/debug.log", "bob main\n");  // same name: skipped
    writeFile(users + "/bob" + game + "Second/logs/debug.log", "bob second\n");
    fs::create_directories(users + "/bob" + game + "NoLogs/logs");
    writeFile(users + "/Public/readme.txt", "not a profile\n");

    const auto archive = DiagnosticsExporter::exportArchive(prefix);
    ASSERT_TRUE(archive);
    const std::set<std::string> want = {
        "wine_version.txt",      "macos_version.txt", "env_vars.txt",          "state.json",
        "steam_console_log.txt", "setup_output.log",  "wine_steam_output.log", "game-debug-Main Profile.log",
        "game-debug-Second.log"};
    const auto names = entries(*archive);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), want);
    EXPECT_EQ(names.size(), want.size()) << "no directory entries, no duplicates";
    EXPECT_EQ(entry(*archive, "state.json"), "{\"phase\":\"ready\"}\n");
    EXPECT_EQ(entry(*archive, "steam_console_log.txt"), numberedLines(4001, 5000));
    EXPECT_EQ(entry(*archive, "setup_output.log"), setupLog);
    EXPECT_EQ(entry(*archive, "wine_steam_output.log"), numberedLines(3001, 5000));
    EXPECT_EQ(entry(*archive, "game-debug-Main Profile.log"), "alice main\n");
    EXPECT_EQ(entry(*archive, "game-debug-Second.log"), "bob second\n");
    EXPECT_TRUE(leftovers().empty());
}

TEST(DiagnosticsExporterTest, VersionOutputThatIsNotTextBecomesUnknown) {
    TestHome home;
    FakeWine wine;
    wine.set("version.output", "wine-11.4\xFF\n");
    const std::string swVers = home.root() + "/sw_vers";
    writeFile(swVers, "#!/bin/sh\nprintf 'ProductName:\\tmacOS\\nProductVersion:\\t14.5\\n'\n");
    fs::permissions(swVers, fs::perms::owner_all);
    DiagnosticsExporter::Tools tools;
    tools.swVers = swVers;

    const auto archive = DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix", tools);
    ASSERT_TRUE(archive);
    EXPECT_EQ(entry(*archive, "wine_version.txt"), "unknown");
    EXPECT_EQ(entry(*archive, "macos_version.txt"), "ProductName:\tmacOS\nProductVersion:\t14.5\n");
}

TEST(DiagnosticsExporterTest, EarlierArchiveIsReplacedNotAddedTo) {
    TestHome home;
    FakeWine wine;
    writeFile(home.root() + "/stale/stale.txt", "old export\n");
    run("/usr/bin/zip", {"-j", archivePath(), home.root() + "/stale/stale.txt"});
    ASSERT_EQ(entrySet(archivePath()), std::set<std::string>{"stale.txt"});

    const auto archive = DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix");
    ASSERT_TRUE(archive);
    EXPECT_EQ(entrySet(*archive), kAlwaysWritten);
}

TEST(DiagnosticsExporterTest, FailedPackingGivesNothingAndLeavesNothing) {
    struct Case {
        const char* name;
        std::string zip;
    } cases[] = {
        {"zip missing", "/nonexistent/zip"},
        {"zip fails", "/bin/false"},
    };
    TestHome home;
    FakeWine wine;
    for (const auto& c : cases) {
        writeFile(archivePath(), "earlier archive");
        DiagnosticsExporter::Tools tools;
        tools.zip = c.zip;
        EXPECT_FALSE(DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix", tools)) << c.name;
        EXPECT_FALSE(fs::exists(archivePath())) << c.name << ": a stale archive must not pass for this export's";
        EXPECT_TRUE(leftovers().empty()) << c.name;
    }
}

TEST(DiagnosticsExporterTest, PlantedLinksAreNeverFollowed) {
    struct Case {
        const char* name;
        std::string (*path)();
    } cases[] = {
        {"link at the staging directory", stagingPath},
        {"link at the archive", archivePath},
    };
    TestHome home;
    FakeWine wine;
    const std::string victim = home.root() + "/victim";
    for (const auto& c : cases) {
        fs::remove_all(victim);
        writeFile(victim + "/precious.txt", "keep me\n");
        fs::remove_all(c.path());
        fs::create_directory_symlink(victim, c.path());

        const auto archive = DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix");
        ASSERT_TRUE(archive) << c.name;
        EXPECT_FALSE(isLink(*archive)) << c.name;
        EXPECT_EQ(entrySet(*archive), kAlwaysWritten) << c.name;
        std::vector<std::string> victimFiles;
        for (const auto& e : fs::directory_iterator(victim)) victimFiles.push_back(e.path().filename().string());
        EXPECT_EQ(victimFiles, std::vector<std::string>{"precious.txt"}) << c.name;
        EXPECT_EQ(readFile(victim + "/precious.txt"), "keep me\n") << c.name;
        EXPECT_TRUE(leftovers().empty()) << c.name;
        fs::remove(archivePath());
    }
}

TEST(DiagnosticsExporterTest, LinkToAFileAtTheArchiveLeavesThatFileAlone) {
    TestHome home;
    FakeWine wine;
    const std::string victim = home.root() + "/victim.zip";
    writeFile(victim, "not yours");
    fs::create_symlink(victim, archivePath());

    const auto archive = DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix");
    ASSERT_TRUE(archive);
    EXPECT_FALSE(isLink(*archive));
    EXPECT_EQ(readFile(victim), "not yours");
    EXPECT_EQ(entrySet(*archive), kAlwaysWritten);
}

TEST(DiagnosticsExporterTest, UnusableTemporaryDirectoryGivesNothing) {
    TestHome home;
    FakeWine wine;
    // A regular file where the temporary directory should be: nothing can be
    // created below it, even as root.
    const std::string blocked = home.root() + "/not-a-dir";
    writeFile(blocked, "x");
    ::setenv("TMPDIR", blocked.c_str(), 1);
    EXPECT_FALSE(DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix"));
    EXPECT_EQ(readFile(blocked), "x");
}

TEST(DiagnosticsExporterTest, LinkPlantedWhileZipRunsIsReplacedAndStagingIsPrivate) {
    TestHome home;
    FakeWine wine;
    const std::string victim = home.root() + "/victim.txt";
    const std::string modeRecord = home.root() + "/staging-mode";
    writeFile(victim, "not yours");
    // Stands in for another local user who plants a link at the archive path
    // while the archive is being packed; then runs the real zip.
    const std::string zip = home.root() + "/zip-with-intruder";
    writeFile(zip,
              "#!/bin/sh\n"
              "for last; do :; done\n"
              "/usr/bin/stat -c %a \"$last\" > '" +
                  modeRecord +
                  "'\n"
                  "/bin/ln -sf '" +
                  victim + "' '" + archivePath() +
                  "'\n"
                  "exec /usr/bin/zip \"$@\"\n");
    fs::permissions(zip, fs::perms::owner_all);
    DiagnosticsExporter::Tools tools;
    tools.zip = zip;

    const auto archive = DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix", tools);
    ASSERT_TRUE(archive);
    EXPECT_EQ(readFile(modeRecord), "700\n");
    EXPECT_FALSE(isLink(*archive));
    EXPECT_EQ(readFile(victim), "not yours");
    EXPECT_EQ(entrySet(*archive), kAlwaysWritten);
    EXPECT_TRUE(leftovers().empty());
}

TEST(DiagnosticsExporterTest, StagingNameHeldByAnotherUserGivesNothing) {
    TestHome home;
    FakeWine wine;
    // Tests run as root, so hand the planted directory to an unprivileged user.
    fs::create_directories(stagingPath());
    writeFile(stagingPath() + "/theirs.txt", "theirs\n");
    ASSERT_EQ(::chown(stagingPath().c_str(), 65534, 65534), 0);

    EXPECT_FALSE(DiagnosticsExporter::exportArchive(home.supportDir() + "/prefix"));
    EXPECT_EQ(readFile(stagingPath() + "/theirs.txt"), "theirs\n");
    EXPECT_FALSE(fs::exists(archivePath()));
}
