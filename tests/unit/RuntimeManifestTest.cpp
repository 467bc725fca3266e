#include <gtest/gtest.h>

#include "runtime/RuntimeValidator.h"

using namespace RuntimeValidator;
using Strings = std::vector<std::string>;

static const std::string kArtifact = R"({"path": "a.dll", "size": {"n": 1}, "arch": "x86_64", "sha256": "ab"})";

// A manifest whose members are spliced in verbatim.
static std::string manifest(const std::string& schema, const std::string& artifacts = "[" + kArtifact + "]",
                            const std::string& tail = "") {
    return R"({"schema_version": )" + schema + R"(, "product_version": "1.2", "artifacts": )" + artifacts + tail + "}";
}

TEST(RuntimeManifestTest, AnyFaultFailsTheFileAndNullOrAbsentMembersTakeDefaults) {
    const std::string deep = std::string(10000, '[') + std::string(10000, ']');
    const std::tuple<std::string, int64_t, Strings> decoded[] = {
        {manifest("9223372036854775807"), INT64_MAX, {"arm64"}},
        {manifest("1", "[]", ", \"x\": " + deep), 1, {"arm64"}},  // 10,000 levels in an ignored key
        {manifest("1", "[]", R"(, "constraints": {"min_macos": null, "supported_cpu": null})"), 1, {"arm64"}},
        {manifest("1", "[]", R"(, "constraints": {"supported_cpu": []})"), 1, {}}};
    for (const auto& [text, schema, cpus] : decoded) {
        const auto m = RuntimeManifest::decode(text);
        EXPECT_EQ(m ? m->schema_version : -1, schema) << text.substr(0, 80);
        EXPECT_EQ(supportedCPUs(m), cpus) << text.substr(0, 80);
    }
    for (const std::string& text :
         {manifest("9223372036854775808"), manifest("1.5"), "[" + manifest("1") + "]", deep.substr(0, 10000),
          manifest("1", R"([{"path": "a.dll", "arch": "x86_64"}])"),  // no sha256
          manifest("1", "[" + kArtifact + R"(, {"path": null}])"),
          manifest("1", "[]", R"(, "constraints": {"supported_cpu": ["arm64", 1]})")})
        EXPECT_FALSE(RuntimeManifest::decode(text)) << text.substr(0, 80);
}

// min_macos gives the major version required (14 without one), uname's answer is trimmed, and 2 GB
// means 2 × 2^30 free bytes.
TEST(RuntimeManifestTest, PlatformRules) {
    const auto withMin = [](const std::string& min) {
        return RuntimeManifest::decode(manifest("1", "[]", R"(, "constraints": {"min_macos": ")" + min + "\"}"));
    };
    // manifest, running major, valid, version shown
    const std::tuple<std::optional<RuntimeManifest>, int, bool, std::string> macs[] = {
        {withMin("15.1"), 14, false, "14.5.0"}, {withMin("15"), 15, true, "15.5.0"},
        {withMin("13.0"), 13, true, "13.5.0"},  {withMin("x.1"), 13, false, "13.5.0"},  // not a number: 14
        {std::nullopt, 14, true, "14.5.0"},     {std::nullopt, 13, false, "13.5.0"}};
    for (const auto& [m, major, valid, shown] : macs) {
        const auto check = evaluateMacOSVersion({major, 5, 0}, m);
        EXPECT_EQ(std::pair(check.valid, check.version), std::pair(valid, shown)) << major;
    }
    EXPECT_EQ(machineName(" \tarm64\n") + machineName("x86_64\r\n") + machineName("arm\xFFz\n"), "arm64x86_64unknown");
    EXPECT_TRUE(!hasEnoughSpace(2'147'483'647, 2) && hasEnoughSpace(2'147'483'648, 2));
    EXPECT_EQ(digestFromShasumOutput("\\ab12  we\\ird\nname\n"), "ab12");
}
