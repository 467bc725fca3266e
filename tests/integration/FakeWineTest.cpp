// The fake Wine runtime is shared by many tests; these pin the contract they
// rely on (see tests/support/README.md).
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Subprocess.h"
#include "support/FakeWine.h"
#include "support/TestHome.h"
#include "wine/Constants.h"

namespace fs = std::filesystem;
using testsupport::FakeWine;
using testsupport::readFile;
using testsupport::TestHome;

namespace {

platform::Subprocess::RunResult runTool(const std::string& exe, const std::vector<std::string>& args,
                                        const std::string& prefix) {
    platform::SubprocessSpec child{exe, args, Constants::buildSafeEnvironment(prefix), platform::OutputMode::Pipe};
    std::string error;
    auto r = platform::Subprocess::run(child, &error);
    if (!r) ADD_FAILURE() << error;
    return r.value_or(platform::Subprocess::RunResult{});
}

double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

TEST(FakeWineTest, RegAddWritesWineTextFormatAndOverwrites) {
    TestHome home;
    FakeWine wine;
    const std::string prefix = Constants::prefixPath();
    struct Step {
        std::vector<std::string> args;
    };
    const std::vector<Step> steps = {
        {{"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides", "/v", "opengl32", "/d", "builtin", "/f"}},
        {{"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides", "/v", "opengl32", "/d", "native", "/f"}},
        {{"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD", "/d",
          "0", "/f"}},
        {{"reg", "add", "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\Quillmoor.exe", "/v", "Version", "/d", "winxp",
          "/f"}},
    };
    for (const auto& s : steps) EXPECT_EQ(runTool(Constants::wineBin(), s.args, prefix).exit.status, 0);
    const std::string reg = readFile(prefix + "/user.reg");
    EXPECT_NE(reg.find("[Software\\\\Wine\\\\DllOverrides] "), std::string::npos) << reg;
    EXPECT_NE(reg.find("\"opengl32\"=\"native\"\n"), std::string::npos) << reg;
    EXPECT_EQ(reg.find("builtin"), std::string::npos) << reg;
    EXPECT_NE(reg.find("\"ShowCrashDialog\"=dword:00000000\n"), std::string::npos) << reg;
    EXPECT_NE(reg.find("[Software\\\\Wine\\\\AppDefaults\\\\Quillmoor.exe] "), std::string::npos) << reg;
    EXPECT_EQ(wine.calls("wine").size(), steps.size());
}

TEST(FakeWineTest, WineserverWaitBlocksOnlyWhileServerAlive) {
    TestHome home;
    FakeWine wine;
    const std::string prefix = Constants::prefixPath();

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runTool(Constants::wineserver(), {"-w"}, prefix).exit.status, 0);
    EXPECT_LT(secondsSince(start), 5.0);

    // An installer run that leaves the server alive; -w must block until -k.
    wine.set("run.server", 1);
    EXPECT_EQ(runTool(Constants::wineBin(), {"/tmp/setup.exe"}, prefix).exit.status, 0);
    ASSERT_TRUE(wine.serverAlive());
    ASSERT_EQ(wine.livePids().size(), 1u);

    platform::SubprocessSpec waitSpec{Constants::wineserver(), {"-w"}, Constants::buildSafeEnvironment(prefix)};
    auto waiter = platform::Subprocess::start(waitSpec);
    ASSERT_TRUE(waiter.process);
    EXPECT_FALSE(waiter.process->waitFor(0.3).has_value()) << "-w returned while the server was alive";

    // Another prefix's server state is not ours.
    EXPECT_EQ(runTool(Constants::wineserver(), {"-k"}, prefix + "-other").exit.status, 0);
    EXPECT_TRUE(wine.serverAlive());

    EXPECT_EQ(runTool(Constants::wineserver(), {"-k"}, prefix).exit.status, 0);
    auto ended = waiter.process->waitFor(30);
    ASSERT_TRUE(ended.has_value()) << "-w kept blocking after -k";
    EXPECT_FALSE(wine.serverAlive());
    for (int i = 0; i < 200 && !wine.livePids().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(wine.livePids().empty()) << "the fake server process outlived -k";

    auto calls = wine.calls("wineserver");
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[3].args, std::vector<std::string>{"-k"});
    EXPECT_EQ(calls[3].env.at("WINEPREFIX"), prefix);
}

TEST(FakeWineTest, ControlValuesKeepRawBytesAndDestructorEndsChildren) {
    TestHome home;
    std::vector<int> pids;
    {
        FakeWine wine;
        const std::string raw = std::string("line one\nback\\slash \xff\xfe end\n", 27);
        wine.set("run.output", raw);
        wine.set("run.child", 60);
        auto r = runTool(Constants::wineBin(), {"C:\\setup.exe"}, Constants::prefixPath());
        EXPECT_EQ(r.output, raw);
        pids = wine.livePids();
        ASSERT_EQ(pids.size(), 1u) << "the background child did not stay";
    }
    // A process that has ended (reaped, or a zombie) has an empty command line.
    for (int pid : pids) EXPECT_EQ(readFile("/proc/" + std::to_string(pid) + "/cmdline"), "") << pid;
}
