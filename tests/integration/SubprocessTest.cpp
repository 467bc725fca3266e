#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <sstream>
#include <thread>

#include "platform/Subprocess.h"
#include "support/TestHome.h"

using platform::OutputMode;
using platform::Subprocess;
using platform::SubprocessSpec;
using testsupport::testProgram;

namespace {

SubprocessSpec argdump(std::vector<std::string> args, OutputMode mode = OutputMode::Pipe) {
    SubprocessSpec s;
    s.executable = testProgram("argdump");
    s.arguments = std::move(args);
    s.output = mode;
    return s;
}

// Parses argdump's "tag LEN:bytes\n" records.
std::vector<std::pair<std::string, std::string>> parseDump(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t space = text.find(' ', pos);
        size_t colon = text.find(':', space);
        if (space == std::string::npos || colon == std::string::npos) break;
        size_t len = std::stoul(text.substr(space + 1, colon - space - 1));
        out.emplace_back(text.substr(pos, space - pos), text.substr(colon + 1, len));
        pos = colon + 1 + len + 1;
    }
    return out;
}

std::vector<std::string> values(const std::vector<std::pair<std::string, std::string>>& dump, const std::string& tag) {
    std::vector<std::string> v;
    for (const auto& [t, value] : dump)
        if (t == tag) v.push_back(value);
    return v;
}

}  // namespace

TEST(SubprocessTest, PassesArgumentsAndEnvironmentExactly) {
    const std::vector<std::string> awkward = {
        "",  "with blank", "\"quoted\" 'single'", "$HOME", "a;b && c | d", "line1\nline2", "\xC3\xBC\xE6\x97\xA5",
        "*", "--",         "back\\slash",
    };
    auto s = argdump({"dump"});
    s.arguments.insert(s.arguments.end(), awkward.begin(), awkward.end());
    s.environment = {{"ONLY", "this one"}, {"WITH_EQUALS", "a=b"}, {"EMPTY", ""}};
    std::string error;
    auto r = Subprocess::run(s, &error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->exit.status, 0);
    auto dump = parseDump(r->output);
    auto args = values(dump, "arg");
    ASSERT_EQ(args.size(), awkward.size() + 2);
    EXPECT_EQ(args[0], s.executable);
    EXPECT_EQ(std::vector<std::string>(args.begin() + 2, args.end()), awkward);
    auto env = values(dump, "env");
    std::sort(env.begin(), env.end());
    EXPECT_EQ(env, (std::vector<std::string>{"EMPTY=", "ONLY=this one", "WITH_EQUALS=a=b"}));
    EXPECT_EQ(values(dump, "cwd").at(0), std::filesystem::current_path().string());
}

TEST(SubprocessTest, EmptyEnvironmentMeansNothingInherited) {
    setenv("SHOULD_NOT_LEAK", "1", 1);
    auto r = Subprocess::run(argdump({"dump"}));
    ASSERT_TRUE(r);
    EXPECT_TRUE(values(parseDump(r->output), "env").empty());
}

TEST(SubprocessTest, ExitStatusesAndSignals) {
    struct Case {
        std::vector<std::string> args;
        int status;
        bool signaled;
    } cases[] = {
        {{"exit", "0"}, 0, false},  {{"exit", "3"}, 3, false},    {{"exit", "255"}, 255, false},
        {{"signal", "9"}, 9, true}, {{"signal", "15"}, 15, true}, {{"signal", "6"}, 6, true},
    };
    for (const auto& c : cases) {
        auto r = Subprocess::run(argdump(c.args, OutputMode::Null));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->exit.status, c.status) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(r->exit.signaled, c.signaled) << c.args[0] << " " << c.args[1];
    }
}

TEST(SubprocessTest, StartFailuresGiveThePlatformText) {
    testsupport::TestHome home;
    const std::string notExecutable = home.root() + "/plain.txt";
    testsupport::writeFile(notExecutable, "#!/bin/sh\necho hi\n");
    struct Case {
        std::string path;
        std::string wantText;
    } cases[] = {
        {home.root() + "/missing", "No such file or directory"},
        {notExecutable, "Permission denied"},
        {home.root(), "Permission denied"},
        {notExecutable + "/below", "Not a directory"},
        {"relative/path", "not absolute"},
    };
    for (const auto& c : cases) {
        SubprocessSpec s;
        s.executable = c.path;
        auto started = Subprocess::start(s);
        EXPECT_FALSE(started.process) << c.path;
        EXPECT_NE(started.error.find(c.wantText), std::string::npos) << c.path << ": " << started.error;
    }
}

TEST(SubprocessTest, DrainsLargeOutputWithoutStalling) {
    auto r = Subprocess::run(argdump({"write", "64"}));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->exit.status, 0);
    EXPECT_EQ(r->output.size(), 64u << 20);
}

TEST(SubprocessTest, MergesStdoutAndStderrInWriteOrder) {
    auto r = Subprocess::run(argdump({"interleave", "200"}));
    ASSERT_TRUE(r);
    std::ostringstream want;
    for (int i = 0; i < 200; ++i) want << "line " << i << "\n";
    EXPECT_EQ(r->output, want.str());
}

TEST(SubprocessTest, EndsWhenChildExitsEvenIfGrandchildHoldsThePipe) {
    auto start = std::chrono::steady_clock::now();
    auto r = Subprocess::run(argdump({"grandchild", "300"}));
    auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(r);
    EXPECT_EQ(r->exit.status, 0);
    // Generous bound: only catches the hang of waiting for EOF.
    EXPECT_LT(elapsed, std::chrono::seconds(30));
    int grandchild = 0;
    ASSERT_EQ(std::sscanf(r->output.c_str(), "grandchild %d", &grandchild), 1) << r->output;
    EXPECT_EQ(::kill(grandchild, 0), 0) << "grandchild should still be alive";
    ::kill(grandchild, SIGKILL);
}

TEST(SubprocessTest, OutputModesRouteOutput) {
    testsupport::TestHome home;
    const std::string path = home.root() + "/out.log";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    auto s = argdump({"interleave", "4"}, OutputMode::File);
    s.outputFd = fd;
    auto r = Subprocess::run(s);
    ::close(fd);
    ASSERT_TRUE(r);
    EXPECT_EQ(testsupport::readFile(path), "line 0\nline 1\nline 2\nline 3\n");
    EXPECT_EQ(r->output, "");

    // Only the even lines go to stdout; the odd ones are stderr's and vanish.
    auto stdoutOnly = Subprocess::run(argdump({"interleave", "4"}, OutputMode::PipeStdout));
    ASSERT_TRUE(stdoutOnly);
    EXPECT_EQ(stdoutOnly->output, "line 0\nline 2\n");

    auto n = Subprocess::run(argdump({"interleave", "4"}, OutputMode::Null));
    ASSERT_TRUE(n);
    EXPECT_EQ(n->output, "");

    auto missingFd = Subprocess::start(argdump({"exit", "0"}, OutputMode::File));
    EXPECT_FALSE(missingFd.process);
}

TEST(SubprocessTest, ChildStartsWithCleanSignalsAndNoLeakedDescriptors) {
    // Block and ignore signals here; the child must not inherit either.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    int leaked = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    auto sig = Subprocess::run(argdump({"signals"}));
    auto fds = Subprocess::run(argdump({"fds"}));
    ::close(leaked);
    ASSERT_TRUE(sig && fds);
    EXPECT_EQ(sig->output, "");
    EXPECT_EQ(fds->output, "");
}

TEST(SubprocessTest, TerminateCallbackAndRunningState) {
    std::promise<platform::ExitStatus> exited;
    std::atomic<std::thread::id> callbackThread;
    auto started = Subprocess::start(argdump({"sleep", "60"}, OutputMode::Null), [&](platform::ExitStatus st) {
        callbackThread = std::this_thread::get_id();
        exited.set_value(st);
    });
    ASSERT_TRUE(started.process);
    auto& child = *started.process;
    EXPECT_TRUE(child.isRunning());
    EXPECT_FALSE(child.waitFor(0.1));
    child.terminate();
    auto st = exited.get_future().get();
    EXPECT_TRUE(st.signaled);
    EXPECT_EQ(st.status, SIGTERM);
    EXPECT_TRUE(callbackThread.load() != std::this_thread::get_id());
    EXPECT_EQ(child.wait().status, SIGTERM);
    EXPECT_FALSE(child.isRunning());
    child.terminate();  // already reaped: must not signal anything
}

TEST(SubprocessTest, DroppingTheHandleDoesNotKillTheChild) {
    std::promise<int> exited;
    pid_t pid;
    {
        auto started = Subprocess::start(argdump({"sleep", "0.5"}, OutputMode::Null),
                                         [&](platform::ExitStatus st) { exited.set_value(st.status); });
        ASSERT_TRUE(started.process);
        pid = started.process->pid();
    }
    EXPECT_EQ(::kill(pid, 0), 0);
    auto f = exited.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(f.get(), 0);  // it ran to its natural end
}
