#include <gtest/gtest.h>

#include "logging/Logger.h"

using Lines = std::vector<std::string>;

TEST(RegistryOverrideLinesTest, ListsOnlyTheValuesOfTheOverridesKey) {
    struct Case {
        const char* name;
        std::string userReg;
        Lines want;
    } cases[] = {
        {"key followed by another key",
         "WINE REGISTRY Version 2\n"
         "[Software\\\\Wine\\\\Direct3D] 1700000000\n"
         "\"renderer\"=\"gl\"\n"
         "\n"
         "[Software\\\\Wine\\\\DllOverrides] 1700000001\n"
         "#time=1da0c0ffee\n"
         "\"opengl32\"=\"native\"\n"
         "\t \"libz-1\"=\"native,builtin\" \t\n"
         "\n"
         "[Software\\\\Wine\\\\X11 Driver] 1700000002\n"
         "\"Decorated\"=\"N\"\n",
         {"  Override: #time=1da0c0ffee", "  Override: \"opengl32\"=\"native\"",
          "  Override: \"libz-1\"=\"native,builtin\""}},
        {"no overrides key", "[Software\\\\Wine] 1\n\"Version\"=\"win10\"\n[Control Panel] 2\n\"a\"=\"b\"\n", {}},
        {"empty file", "", {}},
        {"CRLF line ends",
         "[Software\\\\Wine\\\\DllOverrides] 1\r\n\"opengl32\"=\"native\"\r\n[Next] 2\r\n\"x\"=\"y\"\r\n",
         {"  Override: \"opengl32\"=\"native\""}},
        {"last line without a line end",
         "[Software\\\\Wine\\\\DllOverrides] 1\n\"opengl32\"=\"native\"",
         {"  Override: \"opengl32\"=\"native\""}},
        // A later key that also names DllOverrides (per-application overrides)
        // belongs to the same walk; its header has no "=" and is not written.
        {"second overrides key continues the walk",
         "[Software\\\\Wine\\\\DllOverrides] 1\n\"a\"=\"native\"\n"
         "[Software\\\\Wine\\\\AppDefaults\\\\game.exe\\\\DllOverrides] 2\n\"b\"=\"builtin\"\n[Other] 3\n\"c\"=\"n\"\n",
         {"  Override: \"a\"=\"native\"", "  Override: \"b\"=\"builtin\""}},
        {"header holding \"=\" is written",
         "DllOverrides=on\n\"a\"=\"native\"\n",
         {"  Override: DllOverrides=on", "  Override: \"a\"=\"native\""}},
        // Only a line that begins with "[" ends the key; an indented one does not.
        {"indented bracket does not stop", "[DllOverrides]\n  [x]=1\n", {"  Override: [x]=1"}},
        {"lines without \"=\" are skipped", "[DllOverrides]\n@\n\"a\"\n\"b\"=\"c\"\n", {"  Override: \"b\"=\"c\""}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Logger::registryOverrideLines(c.userReg), c.want) << c.name;
    }
}
