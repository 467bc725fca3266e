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
    const std::string deep = std::string(10000, '[') + std::string(10000, ']'), arm = "arm64";
    // {text, schema_version, supported CPUs}; no schema_version: the file does not decode.
    const std::tuple<std::string, std::optional<int64_t>, Strings> cases[] = {
        {manifest("9223372036854775807"), INT64_MAX, {arm}},
        {manifest("1", "[]", ", \"x\": " + deep), 1, {arm}},  // 10,000 levels in an ignored key
        {manifest("1", "[]", R"(, "constraints": {"min_macos": null, "supported_cpu": null})"), 1, {arm}},
        {manifest("1", "[]", R"(, "constraints": {"supported_cpu": []})"), 1, {}},
        {manifest("9223372036854775808"), {}, {arm}},
        {manifest("1.5"), {}, {arm}},
        {"[" + manifest("1") + "]", {}, {arm}},
        {manifest("1", R"([{"path": "a.dll", "arch": "x86_64"}])"), {}, {arm}},  // no sha256
        {manifest("1", "[" + kArtifact + R"(, {"path": null}])"), {}, {arm}},
        {manifest("1", "[]", R"(, "constraints": {"supported_cpu": ["arm64", 1]})"), {}, {arm}},
        {deep.substr(0, 10000), {}, {arm}},
    };
    for (const auto& [text, schema, cpus] : cases) {
        const auto m = RuntimeManifest::decode(text);
        EXPECT_EQ(m ? std::optional(m->schema_version) : std::nullopt, schema) << text.substr(0, 80);
        EXPECT_EQ(supportedCPUs(m), cpus) << text.substr(0, 80);
    }
}
