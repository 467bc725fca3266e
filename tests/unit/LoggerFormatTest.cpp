#include <gtest/gtest.h>

#include "logging/Logger.h"

TEST(LoggerFormatTest, LineFormat) {
    struct Case {
        int h, m, s, ms;
        std::string level, message, want;
    } cases[] = {
        {14, 3, 7, 250, "INFO", "Prefix created: true", "[14:03:07.250] [INFO] Prefix created: true\n"},
        {0, 0, 0, 5, "PERF", "", "[00:00:00.005] [PERF] \n"},
        {23, 59, 59, 999, "CUSTOM level", "a\nb", "[23:59:59.999] [CUSTOM level] a\nb\n"},
        {9, 8, 7, 60, "ERROR", "\xC3\xBC", "[09:08:07.060] [ERROR] \xC3\xBC\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(Logger::formatLine(c.h, c.m, c.s, c.ms, c.level, c.message), c.want);
}

TEST(LoggerFormatTest, SystemReport) {
    struct Case {
        uint64_t memory;
        std::string ramLine;
    } cases[] = {
        {17179869184ULL, "RAM: 16 GB"},
        {1610612736ULL, "RAM: 1 GB"},
        {1073741823ULL, "RAM: 0 GB"},
        {25769803775ULL, "RAM: 23 GB"},
    };
    for (const auto& c : cases) {
        auto lines = Logger::systemReportLines({14, 5, 1}, 8, c.memory, "/S", "/S/prefix", "/S/wine/bin/wine");
        std::vector<std::string> want = {
            "macOS 14.5.1", "CPU cores: 8", c.ramLine, "Support dir: /S", "Prefix: /S/prefix",
            "Wine: /S/wine/bin/wine",
        };
        EXPECT_EQ(lines, want);
    }
}
