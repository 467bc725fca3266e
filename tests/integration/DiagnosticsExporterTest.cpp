#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "logging/DiagnosticsExporter.h"
#include "platform/Subprocess.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;
using Contents = std::map<std::string, std::string>;

// Every entry by its stored name, read back by the real unzip: a directory or path prefix shows.
static Contents contents(const std::string& archive) {
    const auto unzip = [](std::vector<std::string> args) {
        const auto r =
            platform::Subprocess::run({"/usr/bin/unzip", std::move(args), {}, platform::OutputMode::PipeStdout});
        return r ? r->output : "";
    };
    std::istringstream names(unzip({"-Z1", archive}));
    Contents all;
    for (std::string name; std::getline(names, name);) all[name] = unzip({"-p", archive, name});
    return all;
}
static std::string numberedLines(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
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

TEST_F(DiagnosticsExporterTest, EverySourceThenNoneEachReplacingTheFlatArchive) {
    ::setenv("mesa_no_error", "1", 1);
    ::setenv("WINEDEBUG", "+relay", 1);  // shadowed by the setting Wine children get
    ::unsetenv("WINEPREFIX");
    wine.set("version.stderr", "fixme: not part of the version\n");
    ASSERT_TRUE(PrefixManager().createPrefix([](const std::string&) {}));  // also writes the setup log
    writeFile(Constants::stateFile(), "{}\n");
    writeFile(prefix + "/drive_c/Program Files (x86)/Steam/logs/console_log.txt", numberedLines(1, 5000));
    writeFile(ProcessLauncher::outputLogPath(), numberedLines(1, 5000));
    const std::string users = prefix + "/drive_c/users/", game = "/AppData/Roaming/Vantor Games/Quillmoor/";
    writeFile(users + "alice" + game + "Main Profile/logs/debug.log", "alice main\n");
    writeFile(users + "bob" + game + "Main Profile/logs/debug.log", "bob main\n");  // same name: the first copy stays
    writeFile(users + "bob" + game + "Second/logs/debug.log", "bob second\n");
    ASSERT_EQ(run(), archive);
    const std::string env =
        "GALLIUM_DRIVER=zink\nMESA_GL_VERSION_OVERRIDE=4.5\nMESA_GLSL_VERSION_OVERRIDE=450\nmesa_glthread=true\n"
        "mesa_no_error=1\nMVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS=0\nMVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS=0\n"
        "MVK_CONFIG_LOG_LEVEL=0\nWINEESYNC=1\nWINEDEBUG=-all\nWINEPREFIX=(not set)\n";
    Contents always{{"wine_version.txt", "wine-11.4 (Staging)\n"}, {"macos_version.txt", ""}, {"env_vars.txt", env}};
    Contents every = always;
    every.insert({{"state.json", "{}\n"},
                  {"steam_console_log.txt", numberedLines(4001, 5000)},
                  {"setup_output.log", readFile(PrefixManager::setupLogPath())},
                  {"wine_steam_output.log", numberedLines(3001, 5000)},
                  {"game-debug-Main Profile.log", "alice main\n"},
                  {"game-debug-Second.log", "bob second\n"}});
    EXPECT_EQ(contents(archive), every);
    for (const auto& path : {prefix, Constants::stateFile(), ProcessLauncher::outputLogPath()}) fs::remove_all(path);
    fs::remove(PrefixManager::setupLogPath());
    wine.set("version.output", "wine-11.4\xFF\n");
    always["wine_version.txt"] = "unknown";  // not text
    ASSERT_EQ(run(), archive);
    EXPECT_EQ(contents(archive), always);
}

TEST_F(DiagnosticsExporterTest, FailuresGiveNothingAndLeaveNothing) {
    for (const char* zip : {"/nonexistent/zip", "/bin/false"}) {
        writeFile(archive, "earlier archive");
        EXPECT_FALSE(run({.zip = zip})) << zip;
        EXPECT_FALSE(fs::exists(archive)) << zip << ": an earlier archive must not pass for this one";
    }
    // Another user's staging directory (root hands one over) is left alone.
    writeFile(staging + "/theirs.txt", "theirs\n");
    ASSERT_EQ(::chown(staging.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(DiagnosticsExporter::exportArchive(prefix));
    EXPECT_EQ(readFile(staging + "/theirs.txt"), "theirs\n");
}

TEST_F(DiagnosticsExporterTest, PlantedLinksAreNeverFollowed) {
    const std::string victim = root() + "/victim", mode = root() + "/staging-mode", zip = root() + "/zip";
    writeFile(victim + "/precious.txt", "keep me\n");
    // {where, planted while zip runs}: the latter between the old archive's removal and its replacement.
    for (const auto& [at, whilePacking] : {std::pair{staging, false}, {archive, false}, {archive, true}}) {
        // Stands in for another local user acting while the real zip is started.
        writeFile(zip, "#!/bin/sh\nfor last; do :; done\n/usr/bin/stat -c %a \"$last\" > '" + mode + "'\n" +
                           (whilePacking ? "/bin/ln -s '" + victim + "' '" + at + "'\n" : "") +
                           "exec /usr/bin/zip \"$@\"\n");
        fs::permissions(zip, fs::perms::owner_all);
        if (!whilePacking) fs::create_directory_symlink(victim, at);
        ASSERT_EQ(run({.zip = zip}), archive) << at;
        EXPECT_FALSE(fs::is_symlink(archive)) << at;
        EXPECT_EQ(contents(archive).size(), 3u) << at;
        EXPECT_EQ(readFile(mode), "700\n") << at << ": the staging directory is private";
        EXPECT_EQ(std::distance(fs::directory_iterator(victim), {}), 1) << at;
        fs::remove(archive);
    }
}
