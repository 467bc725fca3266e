#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "diagnostics/DiagnosticsExporter.h"
#include "platform/Subprocess.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "support/ToolStandIn.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;
using Contents = std::map<std::string, std::string>;

// Every entry by its stored name, read back by the real unzip: a directory or path prefix shows.
static Contents contents(const std::string& archive) {
    const auto unzip = [](std::vector<std::string> args) {
        return platform::Subprocess::run({"/usr/bin/unzip", args, {}, platform::OutputMode::PipeStdout}).value().output;
    };
    std::istringstream names(unzip({"-Z1", archive}));
    Contents all;
    for (std::string name; std::getline(names, name);) all[name] = unzip({"-p", archive, name});
    return all;
}
// A home with the fake Wine runtime; however an export ends, only its archive may be left in TMPDIR.
struct DiagnosticsExporterTest : ::testing::Test, testsupport::TestHome {
    testsupport::FakeWine wine;
    const std::string staging = tmp() + "/quillmoor-diagnostics", archive = staging + ".zip",
                      prefix = supportDir() + "/prefix";
    std::optional<std::string> run(const DiagnosticsExporter::Tools& tools = {}) {
        auto made = DiagnosticsExporter::exportArchive(prefix, tools);
        for (const auto& e : fs::directory_iterator(tmp())) EXPECT_EQ(e.path(), archive) << "left behind";
        return made;
    }
};

TEST_F(DiagnosticsExporterTest, EverySourceInOneFlatArchive) {
    ::setenv("mesa_no_error", "1", 1);
    ::unsetenv("WINEPREFIX");  // TestHome's WINEDEBUG=+all is shadowed by the setting Wine children get
    wine.set("version.stderr", "fixme: not part of the version\n");
    ASSERT_TRUE(PrefixManager().createPrefix([](const std::string&) {}));  // also writes the setup log
    writeFile(Constants::stateFile(), "{}\n");
    std::string lines;  // the Steam logs keep their last 1000 and 2000 lines
    for (int i = 1; i <= 5000; ++i) lines += "line " + std::to_string(i) + "\n";
    writeFile(prefix + "/drive_c/Program Files (x86)/Steam/logs/console_log.txt", lines);
    writeFile(ProcessLauncher::outputLogPath(), lines);
    const std::string users = prefix + "/drive_c/users/", game = "/AppData/Roaming/Vantor Games/Quillmoor/";
    writeFile(users + "alice" + game + "Main Profile/logs/debug.log", "alice main\n");
    writeFile(users + "bob" + game + "Main Profile/logs/debug.log", "bob main\n");  // same name: the first copy stays
    writeFile(users + "bob" + game + "Second/logs/debug.log", "bob second\n");
    const std::string macOS = "ProductName:\t\tmacOS\nProductVersion:\t\t14.5\nBuildVersion:\t\t23F79\n";
    const testsupport::ToolStandIn swVers(root() + "/tools", "sw_vers", macOS);
    ASSERT_EQ(run({.swVers = swVers.path()}), archive);
    EXPECT_EQ(swVers.calls(), std::vector<testsupport::ToolStandIn::Call>{{}}) << "run once, without arguments";
    const std::string env =
        "GALLIUM_DRIVER=zink\nMESA_GL_VERSION_OVERRIDE=4.5\nMESA_GLSL_VERSION_OVERRIDE=450\nmesa_glthread=true\n"
        "mesa_no_error=1\nMVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS=0\nMVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS=0\n"
        "MVK_CONFIG_LOG_LEVEL=0\nWINEESYNC=1\nWINEDEBUG=-all\nWINEPREFIX=(not set)\n";
    EXPECT_EQ(contents(archive), (Contents{{"wine_version.txt", "wine-11.4 (Staging)\n"},
                                           {"macos_version.txt", macOS},
                                           {"env_vars.txt", env},
                                           {"state.json", "{}\n"},
                                           {"steam_console_log.txt", lines.substr(lines.find("line 4001\n"))},
                                           {"setup_output.log", readFile(PrefixManager::setupLogPath())},
                                           {"wine_steam_output.log", lines.substr(lines.find("line 3001\n"))},
                                           {"game-debug-Main Profile.log", "alice main\n"},
                                           {"game-debug-Second.log", "bob second\n"}}));
    writeFile(swVers.path() + ".output", "ProductVersion:\t\t14.5\xC3\n");  // not UTF-8
    ASSERT_EQ(run({.swVers = swVers.path()}), archive);
    EXPECT_EQ(contents(archive)["macos_version.txt"], "unknown");
}

// Links planted where the export collects or writes (a Windows program or another local user can) are
// never followed; a failed export gives nothing.
TEST_F(DiagnosticsExporterTest, FailuresGiveNothingAndPlantedLinksAreNeverFollowed) {
    const std::string victim = root() + "/victim", mode = root() + "/staging-mode", zip = root() + "/zip";
    writeFile(victim + "/precious.txt", "PRIVATE KEY\n");
    for (const std::string& link :
         {prefix + "/drive_c/users/alice/AppData/Roaming/Vantor Games/Quillmoor/Main/logs/debug.log",
          prefix + "/drive_c/Program Files (x86)/Steam/logs/console_log.txt", supportDir() + "/state.json",
          supportDir() + "/setup-output.log", supportDir() + "/wine-steam-output.log"})
        fs::create_directories(fs::path(link).parent_path()), fs::create_symlink(victim + "/precious.txt", link);
    // {where, planted while zip runs}: the latter between the old archive's removal and its replacement.
    for (const auto& [at, whilePacking] : {std::pair{staging, false}, {archive, false}, {archive, true}}) {
        writeFile(zip, "#!/bin/sh\nfor last; do :; done\n/bin/ls -ld \"$last\" > '" + mode + "'\n" +
                           (whilePacking ? "/bin/ln -s '" + victim + "' '" + at + "'\n" : "") +
                           "exec /usr/bin/zip \"$@\"\n");
        fs::permissions(zip, fs::perms::owner_all);
        if (!whilePacking) fs::create_directory_symlink(victim, at);
        ASSERT_EQ(run({.zip = zip}), archive) << at;
        EXPECT_FALSE(fs::is_symlink(archive)) << at;
        EXPECT_EQ(contents(archive).size(), 3u) << at << ": wine_version.txt, macos_version.txt, env_vars.txt only";
        EXPECT_EQ(readFile(mode).substr(0, 10), "drwx------") << at << ": the staging directory is private";
        EXPECT_EQ(std::distance(fs::directory_iterator(victim), {}), 1) << at;
        fs::remove(archive);
    }
    for (const std::string& tool :
         {std::string("/nonexistent/zip"), testsupport::testProgram("argdump")}) {  // exits 64
        writeFile(archive, "earlier archive");
        EXPECT_FALSE(run({.zip = tool})) << tool;
        EXPECT_FALSE(fs::exists(archive)) << tool << ": an earlier archive must not pass for this one";
    }
    writeFile(staging + "/theirs.txt", "theirs\n");  // another user's staging directory is left alone
    ASSERT_EQ(::chown(staging.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(!DiagnosticsExporter::exportArchive(prefix) && readFile(staging + "/theirs.txt") == "theirs\n");
}
