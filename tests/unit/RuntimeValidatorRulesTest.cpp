#include <gtest/gtest.h>

#include "runtime/RuntimeValidator.h"

using namespace RuntimeValidator;

namespace {

std::optional<RuntimeManifest> withConstraints(std::optional<std::string> minMacOS,
                                               std::optional<std::vector<std::string>> cpus = std::nullopt) {
    RuntimeManifest m;
    m.constraints = ManifestConstraints{std::move(minMacOS), std::move(cpus)};
    return m;
}

}  // namespace

TEST(RuntimeValidatorRulesTest, MinMacOSTakesTheLeadingDecimalOrFallsBackTo14) {
    const struct {
        std::optional<std::string> minMacOS;
        int64_t major;
    } cases[] = {
        {std::nullopt, 14},
        {"15.2", 15},
        {"15", 15},
        {"14.0", 14},
        {"abc", 14},
        {"", 14},
        {"+15", 15},
        {"-3", -3},
        {".5", 14},
        {"+", 14},
        {"1a.0", 14},
        {" 15", 14},
        {"15 ", 14},
        {"007.1", 7},
        {"16..", 16},
        {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", 14},
        {"-9223372036854775808", INT64_MIN},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(requiredMacOSMajor(withConstraints(c.minMacOS)), c.major) << c.minMacOS.value_or("<none>");
    }
    EXPECT_EQ(requiredMacOSMajor(std::nullopt), 14);
    EXPECT_EQ(requiredMacOSMajor(RuntimeManifest{}), 14);
}

TEST(RuntimeValidatorRulesTest, MacOSVersionComparesTheMajorOnly) {
    const struct {
        platform::OSVersion os;
        std::optional<RuntimeManifest> manifest;
        bool valid;
        const char* version;
    } cases[] = {
        {{14, 0, 0}, std::nullopt, true, "14.0.0"},
        {{13, 6, 1}, std::nullopt, false, "13.6.1"},
        {{13, 99, 99}, withConstraints("13.100"), true, "13.99.99"},
        {{14, 7, 2}, withConstraints("15.0"), false, "14.7.2"},
        {{15, 0, 0}, withConstraints("15.2"), true, "15.0.0"},
        {{13, 0, 0}, withConstraints("abc"), false, "13.0.0"},
        {{0, 0, 0}, withConstraints("-3"), true, "0.0.0"},
        {{6, 1, 0}, withConstraints("1.0"), true, "6.1.0"},
    };
    for (const auto& c : cases) {
        const MacOSCheck check = evaluateMacOSVersion(c.os, c.manifest);
        EXPECT_EQ(check.valid, c.valid) << c.version;
        EXPECT_EQ(check.version, c.version);
    }
}

TEST(RuntimeValidatorRulesTest, SupportedCPUsDefaultToArm64OnlyWhenTheListIsAbsent) {
    EXPECT_EQ(supportedCPUs(std::nullopt), std::vector<std::string>{"arm64"});
    EXPECT_EQ(supportedCPUs(RuntimeManifest{}), std::vector<std::string>{"arm64"});
    EXPECT_EQ(supportedCPUs(withConstraints("14.0")), std::vector<std::string>{"arm64"});
    EXPECT_TRUE(supportedCPUs(withConstraints(std::nullopt, std::vector<std::string>{})).empty());
    EXPECT_EQ(supportedCPUs(withConstraints(std::nullopt, std::vector<std::string>{"x86_64", "arm64"})),
              (std::vector<std::string>{"x86_64", "arm64"}));
}

TEST(RuntimeValidatorRulesTest, MachineNameIsTrimmedOrUnknown) {
    const struct {
        std::string output;
        std::string name;
    } cases[] = {
        {"arm64\n", "arm64"},       {"  x86_64 \r\n", "x86_64"},
        {"\t\narm64\n\n", "arm64"}, {"", ""},
        {"\xff\xfe", "unknown"},    {"arm 64\n", "arm 64"},
        {"\xc3\xbc\n", "\xc3\xbc"}, {"\xed\xa0\x80", "unknown"},  // an encoded surrogate is not UTF-8
    };
    for (const auto& c : cases) EXPECT_EQ(machineName(c.output), c.name) << c.output;
}

TEST(RuntimeValidatorRulesTest, DiskSpaceCountsWhole2To30ByteGigabytes) {
    const struct {
        uint64_t freeBytes;
        int64_t minimumGB;
        bool enough;
    } cases[] = {
        {2147483647ull, 2, false},
        {2147483648ull, 2, true},
        {0, 0, true},
        {0, 1, false},
        {1073741823ull, 1, false},
        {5ull << 30, -1, true},
        {UINT64_MAX, INT64_MAX, false},
        {UINT64_MAX, (1ll << 34) - 1, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hasEnoughSpace(c.freeBytes, c.minimumGB), c.enough) << c.freeBytes << " / " << c.minimumGB;
    }
}

TEST(RuntimeValidatorRulesTest, DigestIsTheFirstBlankSeparatedPiece) {
    const std::string hex(64, 'e');
    const struct {
        std::string output;
        std::optional<std::string> digest;
    } cases[] = {
        {hex + "  /p/opengl32.dll\n", hex},
        {"  " + hex + " x", hex},
        {"\\" + hex + "  /p/back\\\\slash.dll\n", hex},  // shasum's mark for escaped file names
        {"", std::nullopt},
        {"     ", std::nullopt},
        {"\xff" + hex, std::nullopt},
        {"\\", "\\"},
    };
    for (const auto& c : cases) EXPECT_EQ(digestFromShasumOutput(c.output), c.digest) << c.output;
}

TEST(RuntimeValidatorRulesTest, DeployedPathUsesArchAndLastComponent) {
    const struct {
        ArtifactEntry artifact;
        const char* path;
    } cases[] = {
        {{"mesa-x86_64/opengl32.dll", "x86_64", ""}, "/p/drive_c/windows/system32/opengl32.dll"},
        {{"mesa-i686/opengl32.dll", "i686", ""}, "/p/drive_c/windows/syswow64/opengl32.dll"},
        {{"deep/er/libz-1.dll", "X86_64", ""}, "/p/drive_c/windows/syswow64/libz-1.dll"},
        {{"flat.dll", "x86_64", ""}, "/p/drive_c/windows/system32/flat.dll"},
        {{"dir/name.dll/", "arm64", ""}, "/p/drive_c/windows/syswow64/name.dll"},
    };
    for (const auto& c : cases) EXPECT_EQ(deployedPath("/p", c.artifact), c.path) << c.artifact.path;
}
