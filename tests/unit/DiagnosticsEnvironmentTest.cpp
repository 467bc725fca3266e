#include <gtest/gtest.h>

#include "logging/DiagnosticsExporter.h"
#include "wine/Constants.h"

TEST(DiagnosticsEnvironmentTest, WineSettingThenLauncherValueThenNotSet) {
    const std::map<std::string, std::string> launcher = {
        {"WINEDEBUG", "+relay"},  // shadowed by the Wine setting
        {"mesa_no_error", "1"},  {"WINEPREFIX", "/Users/a b/pfx"}, {"MESA_NO_ERROR", "upper case is another variable"},
        {"UNWATCHED", "x"},
    };
    const auto lookup = [&](const std::string& name) -> std::optional<std::string> {
        auto it = launcher.find(name);
        return it == launcher.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    const std::map<std::string, std::string> wineSettings = {
        {"WINEDEBUG", "-all"}, {"GALLIUM_DRIVER", "zink"}, {"WINEESYNC", "1"}, {"NOT_WATCHED", "y"}};

    EXPECT_EQ(DiagnosticsExporter::environmentText(wineSettings, lookup),
              "GALLIUM_DRIVER=zink\n"
              "MESA_GL_VERSION_OVERRIDE=(not set)\n"
              "MESA_GLSL_VERSION_OVERRIDE=(not set)\n"
              "mesa_glthread=(not set)\n"
              "mesa_no_error=1\n"
              "MVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS=(not set)\n"
              "MVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS=(not set)\n"
              "MVK_CONFIG_LOG_LEVEL=(not set)\n"
              "WINEESYNC=1\n"
              "WINEDEBUG=-all\n"
              "WINEPREFIX=/Users/a b/pfx\n");
}

TEST(DiagnosticsEnvironmentTest, EveryWineSettingIsWatched) {
    // The report must cover the whole Wine child environment, whatever the launcher holds.
    const auto nothing = [](const std::string&) -> std::optional<std::string> { return std::nullopt; };
    const std::string text = "\n" + DiagnosticsExporter::environmentText(Constants::wineEnvVars(), nothing);
    for (const auto& [name, value] : Constants::wineEnvVars()) {
        EXPECT_NE(text.find("\n" + name + "=" + value + "\n"), std::string::npos) << name;
    }
    EXPECT_NE(text.find("\nmesa_no_error=(not set)\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("WINEPREFIX=(not set)\n"));
}
