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
static std::string withConstraints(const std::string& constraints) {
    return manifest("1", "[]", ", \"constraints\": " + constraints);
}

TEST(RuntimeManifestTest, AnyFaultFailsTheFileAndNullOrAbsentMembersTakeDefaults) {
    const std::string deep = std::string(10000, '[') + std::string(10000, ']'), arm = "arm64";
    // {text, schema_version, supported CPUs}; no schema_version: the file does not decode.
    const std::tuple<std::string, std::optional<int64_t>, Strings> cases[] = {
        {manifest("9223372036854775807"), INT64_MAX, {arm}},
        {manifest("2.0"), 2, {arm}},
        {manifest("1", "[]", ", \"x\": " + deep), 1, {arm}},  // 10,000 levels in an ignored key
        {manifest("1", "[]", ", \"x\": \"" + std::string(10 << 20, 'p') + "\""), 1, {arm}},  // 10 MB
        {withConstraints("null"), 1, {arm}},
        {withConstraints(R"({"min_macos": null, "supported_cpu": null})"), 1, {arm}},
        {withConstraints(R"({"supported_cpu": []})"), 1, {}},
        {manifest("9223372036854775808"), {}, {arm}},
        {manifest("1.5"), {}, {arm}},
        {manifest("\"1\""), {}, {arm}},
        {"", {}, {arm}},
        {"runtime.lock\n\x01\xff", {}, {arm}},
        {"[" + manifest("1") + "]", {}, {arm}},
        {manifest("1", R"([{"path": "a.dll", "arch": "x86_64"}])"), {}, {arm}},  // no sha256
        {manifest("1", "[" + kArtifact + R"(, {"path": null}])"), {}, {arm}},
        {withConstraints(R"({"supported_cpu": ["arm64", 1]})"), {}, {arm}},
        {deep.substr(0, 10000), {}, {arm}},
    };
    for (const auto& [text, schema, cpus] : cases) {
        const auto m = RuntimeManifest::decode(text);
        EXPECT_EQ(m ? std::optional(m->schema_version) : std::nullopt, schema) << text.substr(0, 80);
        EXPECT_EQ(supportedCPUs(m), cpus) << text.substr(0, 80);
    }
}

TEST(RuntimeValidatorRulesTest, AwkwardMacOSVersionsMachineNamesAndSizes) {
    const std::pair<std::optional<std::string>, int64_t> cases[] = {
        {{}, 14}, {"15.2", 15}, {"abc", 14}, {"+15", 15}, {"-3", -3}, {" 15", 14}, {"9223372036854775808", 14}};
    for (const auto& [text, major] : cases) {
        const RuntimeManifest m{1, "", {}, ManifestConstraints{text, {}}};
        EXPECT_EQ(requiredMacOSMajor(m), major) << text.value_or("<none>");
        EXPECT_EQ(evaluateMacOSVersion({14, 7, 2}, m).valid, major <= 14) << text.value_or("<none>");
    }
    EXPECT_FALSE(evaluateMacOSVersion({13, 99, 1}, std::nullopt).valid) << "no manifest: at least 14";
    EXPECT_EQ(machineName("\xed\xa0\x80"), "unknown") << "an encoded surrogate is not UTF-8";
    EXPECT_TRUE(hasEnoughSpace(2147483648ull, 2) && !hasEnoughSpace(2147483647ull, 2));
    EXPECT_FALSE(hasEnoughSpace(UINT64_MAX, INT64_MAX)) << "no overflow";
}
