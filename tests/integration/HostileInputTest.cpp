// Secrets in the launcher's environment reach no Wine child. (The installer's and Steam's environments:
// PrefixManagerWineTest, ProcessLauncherTest; installer names written as shell commands: PrefixManagerWineTest.)
#include <gtest/gtest.h>

#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/PrefixManager.h"

TEST(HostileInputTest, NoSecretOfTheLauncherReachesAWineChild) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    for (const char* variable :
         {"AWS_SECRET_ACCESS_KEY=s3cr3t", "LD_PRELOAD=/tmp/evil.so", "DYLD_INSERT_LIBRARIES=/x",
          "WINEDLLOVERRIDES=evil=n", "SSH_AUTH_SOCK=/tmp/agent", "USER=alice", "LANG=en_GB.UTF-8", "LC_ALL=C"})
        ::putenv(const_cast<char*>(variable));
    (void)PrefixManager().runWine({"--version"});
    (void)ProcessLauncher::isOurWineserverRunning();  // wineserver -w
    const auto calls = wine.calls();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls) {
        std::string names;
        for (const auto& [name, value] : call.env) names += name + " ";
        EXPECT_EQ(names,
                  "GALLIUM_DRIVER HOME LANG MESA_GLSL_VERSION_OVERRIDE MESA_GL_VERSION_OVERRIDE MVK_CONFIG_LOG_LEVEL "
                  "MVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS MVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS PATH TMPDIR USER "
                  "WINEDEBUG WINEESYNC WINEPREFIX mesa_glthread ")
            << call.program;
    }
}
