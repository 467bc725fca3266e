// Secrets in the launcher's environment reach no Wine child. (Installer names written as shell
// commands: PrefixManagerWineTest.)
#include <gtest/gtest.h>

#include "platform/MainQueue.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/Constants.h"
#include "wine/PrefixManager.h"

TEST(HostileInputTest, NoSecretOfTheLauncherReachesAWineChild) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    platform::ManualQueue queue;
    queue.install();
    for (const char* variable :
         {"AWS_SECRET_ACCESS_KEY=s3cr3t", "LD_PRELOAD=/tmp/evil.so", "DYLD_INSERT_LIBRARIES=/x",
          "WINEDLLOVERRIDES=evil=n", "SSH_AUTH_SOCK=/tmp/agent", "USER=alice", "LANG=en_GB.UTF-8", "LC_ALL=C"})
        ::putenv(const_cast<char*>(variable));
    PrefixManager manager;
    (void)manager.runWine({"--version"});
    (void)manager.runInstaller(home.root() + "/Setup.exe", [](const std::string&) {});
    (void)ProcessLauncher::isOurWineserverRunning();  // wineserver -w
    wine.set("steam.quit_after", "0.1");
    ProcessLauncher launcher;
    ASSERT_TRUE(launcher.launchSteam(Constants::prefixPath()));
    EXPECT_TRUE(queue.drainUntil([&] { return !launcher.hasGameProcess(); }, std::chrono::seconds(20)));
    platform::MainQueue::setPoster({});

    const auto calls = wine.calls();
    ASSERT_GE(calls.size(), 4u);
    for (const auto& call : calls) {
        std::string names;
        for (const auto& [name, value] : call.env) names += name + " ";
        EXPECT_EQ(names,
                  "GALLIUM_DRIVER HOME LANG MESA_GLSL_VERSION_OVERRIDE MESA_GL_VERSION_OVERRIDE MVK_CONFIG_LOG_LEVEL "
                  "MVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS MVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS PATH TMPDIR USER "
                  "WINEDEBUG WINEESYNC WINEPREFIX mesa_glthread ")
            << call.program << " " << (call.args.empty() ? "" : call.args[0]);
    }
}
