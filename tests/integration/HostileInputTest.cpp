// What an attacker or an unlucky user can put in front of the launcher: secrets in its
// environment, a runtime archive that reaches out. (Installer names written as shell commands:
// PrefixManagerWineTest.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <thread>

#include "platform/MainQueue.h"
#include "platform/Sha256.h"
#include "platform/Subprocess.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/HttpTestServer.h"
#include "support/TestHome.h"
#include "wine/Constants.h"
#include "wine/PrefixManager.h"
#include "wine/WineDownloader.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::writeFile;

TEST(HostileInputTest, NoSecretOfTheLauncherReachesAWineChild) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    queue.install();
    const std::map<std::string, std::string> secrets = {{"AWS_SECRET_ACCESS_KEY", "s3cr3t"},
                                                        {"LD_PRELOAD", "/tmp/evil.so"},
                                                        {"DYLD_INSERT_LIBRARIES", "/tmp/evil"},
                                                        {"WINEDLLOVERRIDES", "evil=n"},
                                                        {"SSH_AUTH_SOCK", "/tmp/agent"},
                                                        {"USER", "alice"},
                                                        {"LANG", "en_GB.UTF-8"},
                                                        {"LC_ALL", "C"}};
    for (const auto& [name, value] : secrets) ::setenv(name.c_str(), value.c_str(), 1);

    PrefixManager manager;
    (void)manager.runWine({"--version"});
    (void)manager.runInstaller(home.root() + "/Setup.exe", [](const std::string&) {});
    (void)ProcessLauncher::isOurWineserverRunning();  // wineserver -w
    wine.set("steam.quit_after", "0.1");
    ProcessLauncher launcher;
    ASSERT_TRUE(launcher.launchSteam(Constants::prefixPath()));
    EXPECT_TRUE(queue.drainUntil([&] { return !launcher.hasGameProcess(); }, 20s));
    for (const auto& [name, value] : secrets) ::unsetenv(name.c_str());

    const std::string allowed =
        "GALLIUM_DRIVER HOME LANG MESA_GLSL_VERSION_OVERRIDE MESA_GL_VERSION_OVERRIDE MVK_CONFIG_LOG_LEVEL "
        "MVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS MVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS PATH TMPDIR USER WINEDEBUG "
        "WINEESYNC WINEPREFIX mesa_glthread ";
    const auto calls = wine.calls();
    ASSERT_GE(calls.size(), 4u);
    for (const auto& call : calls) {
        std::string names;
        for (const auto& [name, value] : call.env) names += name + " ";
        EXPECT_EQ(names, allowed) << call.program << " " << (call.args.empty() ? "" : call.args[0]);
    }
    platform::MainQueue::setPoster({});
}

// A runtime archive whose members point outside the staging directory writes nothing there,
// whether the digest vouches for it or not, and the previous runtime survives.
TEST(HostileInputTest, ArchiveMembersStayInsideTheStagingDirectory) {
    testsupport::TestHome home;
    const std::string work = home.root() + "/craft", outside = home.root() + "/outside";
    const std::string tree = "Wine Staging.app/Contents/Resources/wine";
    writeFile(work + "/a/b/" + tree + "/bin/wine", "#!/bin/sh\necho wine-11.4\n");
    writeFile(work + "/a/escaped-up.txt", "up");
    writeFile(outside + "/escaped-absolute.txt", "absolute");
    writeFile(work + "/via/link/escaped-through-link.txt", "through a link");
    fs::create_directories(outside + "/target");
    const std::string archive = home.root() + "/hostile.tar";
    auto tar = [&](std::vector<std::string> args) {
        const auto r = platform::Subprocess::run({"/usr/bin/tar", std::move(args), {}, platform::OutputMode::Null});
        ASSERT_TRUE(r && r->exit.status == 0);
    };
    // -P keeps "../" and absolute names as they are; the link comes before a member written through it.
    tar({"-cPf", archive, "-C", work + "/a/b", tree, "../../a/escaped-up.txt", outside + "/escaped-absolute.txt"});
    fs::create_directory_symlink(outside + "/target", work + "/link");
    tar({"-rf", archive, "-C", work, "link"});
    tar({"-rf", archive, "-C", work + "/via", "link/escaped-through-link.txt"});
    fs::remove(outside + "/escaped-absolute.txt");

    {
        WineDownloader::Settings settings = WineDownloader::Settings::defaults();
        testsupport::HttpTestServer server({archive});
        settings.downloadURL = server.url();
        settings.expectedSHA256 = platform::Sha256::hex(readFile(archive));
        settings.freeSpace = [](const std::string&) { return std::optional<uint64_t>(100'000'000'000); };
        writeFile(settings.wineDir + "/bin/wine", "previous");
        // The completion runs on the downloader's session thread.
        std::promise<DownloadResult> result;
        auto finished = result.get_future();
        {
            WineDownloader downloader(settings);
            downloader.install({}, [&](const DownloadResult& r) { result.set_value(r); });
            ASSERT_EQ(finished.wait_for(60s), std::future_status::ready);
        }
        EXPECT_FALSE(fs::exists(settings.stagingDir()));
    }
    // "../../a/escaped-up.txt" from the staging directory (Ferrowick/wine.partial).
    EXPECT_FALSE(fs::exists(home.home() + "/Library/Application Support/a/escaped-up.txt"));
    EXPECT_FALSE(fs::exists(outside + "/escaped-absolute.txt"));
    EXPECT_TRUE(fs::is_empty(outside + "/target"));
}
