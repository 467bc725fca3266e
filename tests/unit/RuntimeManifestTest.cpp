#include <gtest/gtest.h>

#include "runtime/RuntimeValidator.h"

using namespace RuntimeValidator;
using Strings = std::vector<std::string>;

static const std::string kArtifact = R"({"path": "a.dll", "arch": "x86_64", "sha256": "ab"})";

// A manifest whose members are spliced in verbatim.
static std::string manifest(const std::string& schema, const std::string& artifacts = "[" + kArtifact + "]",
                            const std::string& tail = "") {
    return R"({"schema_version": )" + schema + R"(, "product_version": "1.2", "artifacts": )" + artifacts + tail + "}";
}
static std::string withConstraints(const std::string& constraints) {
    return manifest("1", "[]", ", \"constraints\": " + constraints);
}

TEST(RuntimeManifestTest, SchemaVersionMustBeA64BitIntegerAndAnyFaultFailsTheFile) {
    const std::string deep = std::string(10000, '[') + std::string(10000, ']');
    for (const auto& [text, schema] : {
             std::pair<std::string, std::optional<int64_t>>{manifest("9223372036854775807"), INT64_MAX},
             {manifest("2.0"), 2},
             {manifest("1", "[]", ", \"x\": " + deep), 1},  // 10,000 levels in an ignored key
             {manifest("1", "[]", ", \"x\": \"" + std::string(10 << 20, 'p') + "\""), 1},  // 10 MB
             {manifest("9223372036854775808"), {}},
             {manifest("1.5"), {}},
             {manifest("\"1\""), {}},
             {"", {}},
             {"runtime.lock\n\x01\xff", {}},
             {"[" + manifest("1") + "]", {}},
             {manifest("1", R"([{"path": "a.dll", "arch": "x86_64"}])"), {}},  // no sha256
             {manifest("1", "[" + kArtifact + R"(, {"path": null}])"), {}},
             {withConstraints(R"({"supported_cpu": ["arm64", 1]})"), {}},
             {deep.substr(0, 10000), {}},
         }) {
        const auto m = RuntimeManifest::decode(text);
        EXPECT_EQ(m ? std::optional(m->schema_version) : std::nullopt, schema) << text.substr(0, 80);
    }
}

TEST(RuntimeManifestTest, DecodesInOrderIgnoringUnknownKeysWithOptionalMembersNullOrAbsent) {
    const auto full = RuntimeManifest::decode(R"({"x": {"deep": [1, null]}, "schema_version": 3, "product_version": "v",
        "artifacts": [{"path": "b/2.dll", "n": 5, "arch": "i686", "sha256": "22"}, {"path": "a/1.dll",
        "arch": "x86_64", "sha256": "11", "size": {}}], "constraints": {"min_macos": "14.5", "future": true,
        "supported_cpu": ["arm64", "x86_64"]}, "zzz": null})");
    EXPECT_EQ(full, (RuntimeManifest{3,
                                     "v",
                                     {{"b/2.dll", "i686", "22"}, {"a/1.dll", "x86_64", "11"}},
                                     ManifestConstraints{"14.5", Strings{"arm64", "x86_64"}}}));
    for (const auto& [text, constraints, cpus] : {
             std::tuple<std::string, std::optional<ManifestConstraints>, Strings>{manifest("1"), {}, {"arm64"}},
             {withConstraints("null"), {}, {"arm64"}},
             {withConstraints("{}"), ManifestConstraints{}, {"arm64"}},
             {withConstraints(R"({"min_macos": null, "supported_cpu": null})"), ManifestConstraints{}, {"arm64"}},
             {withConstraints(R"({"supported_cpu": []})"), ManifestConstraints{{}, Strings{}}, {}},
         }) {
        const auto m = RuntimeManifest::decode(text);
        ASSERT_TRUE(m) << text;
        EXPECT_EQ(m->constraints, constraints) << text;
        EXPECT_EQ(supportedCPUs(m), cpus) << text;
    }
    EXPECT_EQ(supportedCPUs(std::nullopt), Strings{"arm64"});
}

TEST(RuntimeValidatorRulesTest, MacOSMajorMachineNameAndGigabytes) {
    const std::string tooBig = "9223372036854775808";
    const std::pair<std::optional<std::string>, int64_t> cases[] = {
        {{}, 14},   {"15.2", 15}, {"14.9", 14}, {"abc", 14},  {"", 14},    {"+15", 15},
        {"-3", -3}, {".5", 14},   {" 15", 14},  {"007.1", 7}, {tooBig, 14}};
    for (const auto& [text, major] : cases) {
        const RuntimeManifest m{1, "", {}, ManifestConstraints{text, {}}};
        EXPECT_EQ(requiredMacOSMajor(m), major) << text.value_or("<none>");
        EXPECT_EQ(evaluateMacOSVersion({14, 7, 2}, m).valid, major <= 14) << text.value_or("<none>");
    }
    EXPECT_EQ(evaluateMacOSVersion({13, 99, 1}, std::nullopt).version, "13.99.1");
    EXPECT_FALSE(evaluateMacOSVersion({13, 99, 1}, std::nullopt).valid) << "no manifest: at least 14";
    EXPECT_EQ(machineName("  x86_64 \r\n"), "x86_64");
    EXPECT_EQ(machineName("\xed\xa0\x80"), "unknown") << "an encoded surrogate is not UTF-8";
    EXPECT_FALSE(hasEnoughSpace(2147483647ull, 2));
    EXPECT_TRUE(hasEnoughSpace(2147483648ull, 2));
    EXPECT_FALSE(hasEnoughSpace(UINT64_MAX, INT64_MAX)) << "no overflow";
}
