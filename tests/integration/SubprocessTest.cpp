#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "platform/Subprocess.h"
#include "support/TestHome.h"

using platform::OutputMode;
using platform::Subprocess;

static platform::SubprocessSpec sh(const std::string& script, OutputMode mode = OutputMode::Pipe) {
    return {"/bin/sh", {"-c", script}, {}, mode};
}
static std::string output(const platform::SubprocessSpec& child) {
    const auto r = Subprocess::run(child);
    return r ? r->output : "(not started)";
}

TEST(SubprocessTest, ChildGetsExactlyItsArgumentsAndEnvironment) {
    // Nothing of the launcher's own leaks in: variables, blocked or ignored signals, descriptors.
    ::setenv("SHOULD_NOT_LEAK", "1", 1), ::open("/dev/null", O_RDONLY);  // a descriptor without close-on-exec
    sigset_t set;
    sigemptyset(&set), sigaddset(&set, SIGUSR1), pthread_sigmask(SIG_BLOCK, &set, nullptr), signal(SIGPIPE, SIG_IGN);
    const platform::SubprocessSpec child{testsupport::testProgram("argdump"),
                                         {"dump", "", "with blank", "\"q\" 's'", "$HOME", "a;b | c", "l1\nl2",
                                          "\xC3\xBC\xE6\x97\xA5", "*", "back\\slash"},
                                         {{"ONLY", "this one"}, {"WITH_EQUALS", "a=b"}, {"EMPTY", ""}},
                                         OutputMode::Pipe};
    std::string want = child.executable + '\0';  // argdump ends each argv and environment entry with a NUL
    for (const auto& arg : child.arguments) want += arg + '\0';
    for (const auto& [name, value] : child.environment) want += name + "=" + value + '\0';
    EXPECT_EQ(output(child), want);
}

TEST(SubprocessTest, ExitCodesSignalsAndStartFailures) {
    for (const auto& [script, status, signaled] : {std::tuple{"exit 255", 255, false}, {"kill -9 $$", 9, true}}) {
        const auto r = Subprocess::run(sh(script, OutputMode::Null));
        EXPECT_TRUE(r && r->exit.status == status && r->exit.signaled == signaled) << script;
    }
    testsupport::TestHome home;
    testsupport::writeFile(home.root() + "/plain.sh", "#!/bin/sh\necho hi\n");
    for (const auto& [path, error] : {std::pair{home.root() + "/missing", "No such file or directory"},
                                      {home.root() + "/plain.sh", "Permission denied"},  // no run bit
                                      {std::string("relative/path"), "not absolute"}}) {
        const auto started = Subprocess::start({path, {}, {}, OutputMode::Null});
        EXPECT_TRUE(!started.process && started.error.find(error) != std::string::npos)
            << path << ": " << started.error;
    }
}

TEST(SubprocessTest, PipeDrainsEverythingInOrderUntilTheChildExits) {
    EXPECT_EQ(output(sh("echo 0; echo 1 >&2; echo 2; echo 3 >&2")), "0\n1\n2\n3\n");
    EXPECT_EQ(output(sh("/usr/bin/head -c 67108864 /dev/zero")), std::string(64u << 20, '\0'))
        << "beyond the pipe buffer";
    // A grandchild holding the pipe must not keep the run from ending.
    const auto start = std::chrono::steady_clock::now();
    const std::string pid = output(sh("/bin/sleep 300 & echo $!"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));  // only catches the hang
    const int child = std::atoi(pid.c_str());  // 0 never reaches kill, which would hit the whole group
    EXPECT_TRUE(child > 0 && ::kill(child, SIGKILL) == 0) << "the grandchild was still alive: " << pid;
}
