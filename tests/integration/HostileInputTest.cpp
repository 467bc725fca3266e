// Secrets in the launcher's environment reach no Wine child, and files planted at its logs' names harm nothing. (The
// installer's and Steam's environments: PrefixManagerWineTest, ProcessLauncherTest; installer names written as shell
// commands: PrefixManagerWineTest.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <future>

#include "common/Constants.h"
#include "logging/Logger.h"
#include "process/ProcessLauncher.h"
#include "support/FakeWine.h"
#include "support/GoldenLog.h"
#include "support/TestHome.h"
#include "wine/PrefixManager.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

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

// Links planted at the launcher's and Wine's log names: each link is replaced by the log, and the
// file it points to is never emptied nor written.
TEST(HostileInputTest, PlantedLogLinksAreReplacedNeverWrittenThrough) {
    testsupport::TestHome home;
    testsupport::FakeWine wine;
    const std::string dir = home.supportDir(), notes = home.home() + "/notes.txt";
    writeFile(notes, "the user's notes\n");
    fs::create_directories(dir);
    fs::create_symlink(notes, dir + "/launcher.log");
    fs::create_symlink(notes, dir + "/setup-output.log");
    Logger::shared().info("first");
    (void)PrefixManager().runWine({"--version"});
    EXPECT_EQ(readFile(notes), "the user's notes\n");
    EXPECT_FALSE(fs::is_symlink(dir + "/launcher.log") || fs::is_symlink(dir + "/setup-output.log"));
    EXPECT_EQ(testsupport::normaliseLog(readFile(dir + "/launcher.log"), "", true),
              "[HH:mm:ss.SSS] [INFO] first\n[HH:mm:ss.SSS] [INFO] runWine: --version\n");
    EXPECT_EQ(readFile(dir + "/setup-output.log"), "--- wine --version ---\nwine-11.4 (Staging)\n");
}

// A FIFO planted at the launcher log's name: the launcher neither waits for a reader nor writes to
// one; its log is dropped, as a log that cannot be created is.
TEST(HostileInputTest, APlantedLogFifoNeverHoldsTheLauncherUp) {
    testsupport::TestHome home;
    const std::string fifo = home.supportDir() + "/launcher.log";
    fs::create_directories(home.supportDir());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto logged = std::async(std::launch::async, [] { Logger::shared().info("nobody reads this"); });
    if (logged.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "the launcher waits for a reader of its log";
        ::close(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));  // lets it go
    }
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    Logger::shared().info("a reader is there");
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0) << "a line went into the FIFO";
    ::close(reader);
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
}
