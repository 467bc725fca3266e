#include <gtest/gtest.h>

#include "logging/Logger.h"

using Lines = std::vector<std::string>;

TEST(LoggerFormatTest, PaddedTimeAndFlooredMemory) {
    EXPECT_EQ(Logger::formatLine(9, 8, 7, 60, "Odd level", "a\nb"), "[09:08:07.060] [Odd level] a\nb\n");
    EXPECT_EQ(Logger::systemReportLines({14, 5, 1}, 8, 25769803775ULL, "/S", "/S/prefix", "/S/wine/bin/wine"),
              (Lines{"macOS 14.5.1", "CPU cores: 8", "RAM: 23 GB", "Support dir: /S", "Prefix: /S/prefix",
                     "Wine: /S/wine/bin/wine"}));
}

TEST(LoggerFormatTest, RegistryOverridesAreTheValuesOfTheOverridesKeyOnly) {
    const struct {
        const char* name;
        std::string userReg;
        Lines want;
    } cases[] = {
        {"key followed by another key",
         "WINE REGISTRY Version 2\n[Software\\\\Wine\\\\Direct3D] 1\n\"renderer\"=\"gl\"\n\n"
         "[Software\\\\Wine\\\\DllOverrides] 2\n#time=1da0\n\"opengl32\"=\"native\"\n\t \"libz-1\"=\"native\" \t\n\n"
         "  [indented]=1\n[Software\\\\Wine\\\\X11 Driver] 3\n\"Decorated\"=\"N\"\n",
         {"  Override: #time=1da0", "  Override: \"opengl32\"=\"native\"", "  Override: \"libz-1\"=\"native\"",
          "  Override: [indented]=1"}},
        {"no overrides key", "[Software\\\\Wine] 1\n\"Version\"=\"win10\"\n", {}},
        {"CRLF line ends, no final line end",
         "[DllOverrides] 1\r\n\"a\"=\"n\"\r\n\"b\"=\"m\"",
         {"  Override: \"a\"=\"n\"", "  Override: \"b\"=\"m\""}},
        {"a second overrides key continues the walk",
         "[DllOverrides] 1\n\"a\"=\"n\"\n[AppDefaults\\\\g.exe\\\\DllOverrides] 2\n\"b\"=\"b\"\n[Other] 3\n\"c\"=\"n\"",
         {"  Override: \"a\"=\"n\"", "  Override: \"b\"=\"b\""}},
    };
    for (const auto& c : cases) EXPECT_EQ(Logger::registryOverrideLines(c.userReg), c.want) << c.name;
}
