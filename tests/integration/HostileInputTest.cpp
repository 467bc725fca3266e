// Secrets in the launcher's environment reach no Wine child. (The installer's and Steam's environments:
// PrefixManagerWineTest, ProcessLauncherTest; installer names written as shell commands: PrefixManagerWineTest.)
#include <gtest/gtest.h>

#include "common/Constants.h"
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
    const auto calls = wine.calls();  // the literal environment of a Wine child, with USER and LANG passed on
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls) EXPECT_EQ(call.env, testsupport::wineChildEnvironment(Constants::prefixPath()));
}
