#include <gtest/gtest.h>

#include <string>

#include "runtime/RuntimeManifest.h"

namespace {

const char kArtifact[] = R"({"path": "mesa-x86_64/opengl32.dll", "arch": "x86_64", "sha256": "ab"})";

// A manifest whose top-level members are spliced in verbatim.
std::string manifest(const std::string& schema = "1", const std::string& artifacts = std::string("[") + kArtifact + "]",
                     const std::string& tail = "") {
    return R"({"schema_version": )" + schema + R"(, "product_version": "1.2", "artifacts": )" + artifacts + tail + "}";
}

std::string withConstraints(const std::string& constraints) {
    return manifest("1", "[]", ", \"constraints\": " + constraints);
}

}  // namespace

TEST(RuntimeManifestTest, DecodesEveryMemberInFileOrder) {
    const std::string text = R"({"schema_version": 3, "product_version": "mesa-24.1",
        "artifacts": [
            {"path": "b/second.dll", "arch": "i686", "sha256": "22"},
            {"path": "a/first.dll", "arch": "x86_64", "sha256": "11"},
            {"path": "c/third.dll", "arch": "x86_64", "sha256": "33"}],
        "constraints": {"min_macos": "14.5", "supported_cpu": ["arm64", "x86_64"]}})";
    auto m = RuntimeManifest::decode(text);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->schema_version, 3);
    EXPECT_EQ(m->product_version, "mesa-24.1");
    ASSERT_EQ(m->artifacts.size(), 3u);
    EXPECT_EQ(m->artifacts[0], (ArtifactEntry{"b/second.dll", "i686", "22"}));
    EXPECT_EQ(m->artifacts[1], (ArtifactEntry{"a/first.dll", "x86_64", "11"}));
    EXPECT_EQ(m->artifacts[2], (ArtifactEntry{"c/third.dll", "x86_64", "33"}));
    ASSERT_TRUE(m->constraints);
    EXPECT_EQ(m->constraints->min_macos, "14.5");
    EXPECT_EQ(m->constraints->supported_cpu, (std::vector<std::string>{"arm64", "x86_64"}));
}

TEST(RuntimeManifestTest, UnknownKeysAreIgnoredAtEveryLevel) {
    const std::string plain = withConstraints(R"({"min_macos": "15.0", "supported_cpu": ["arm64"]})");
    const std::string noisy = R"({"extra": {"deep": [1, null, "x"]}, "schema_version": 1, "product_version": "1.2",
        "artifacts": [], "constraints": {"min_macos": "15.0", "future": true, "supported_cpu": ["arm64"]},
        "zzz": null})";
    const std::string noisyArtifact =
        manifest("1", R"([{"path": "mesa-x86_64/opengl32.dll", "note": 5, "arch": "x86_64", "sha256": "ab",
                           "size": {"bytes": 1}}])");
    EXPECT_EQ(RuntimeManifest::decode(noisy), RuntimeManifest::decode(plain));
    ASSERT_TRUE(RuntimeManifest::decode(plain));
    EXPECT_EQ(RuntimeManifest::decode(noisyArtifact), RuntimeManifest::decode(manifest()));
    ASSERT_TRUE(RuntimeManifest::decode(manifest()));
}

TEST(RuntimeManifestTest, MalformedDocumentsGiveNoManifest) {
    const std::string nested(10000, '[');
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"not JSON", "runtime.lock\n\x01\xff"},
        {"truncated", manifest().substr(0, 40)},
        {"trailing garbage", manifest() + " x"},
        {"top-level array", "[" + manifest() + "]"},
        {"top-level string", "\"manifest\""},
        {"top-level null", "null"},
        {"schema_version as string", manifest("\"1\"")},
        {"schema_version 1.5", manifest("1.5")},
        {"schema_version 2^63", manifest("9223372036854775808")},
        {"schema_version 2^63 as float", manifest("9.223372036854775808e18")},
        {"schema_version -2^63-1", manifest("-9223372036854775809")},
        {"schema_version bool", manifest("true")},
        {"schema_version null", manifest("null")},
        {"schema_version missing", R"({"product_version": "1", "artifacts": []})"},
        {"product_version missing", R"({"schema_version": 1, "artifacts": []})"},
        {"product_version number", R"({"schema_version": 1, "product_version": 1, "artifacts": []})"},
        {"artifacts missing", R"({"schema_version": 1, "product_version": "1"})"},
        {"artifacts null", manifest("1", "null")},
        {"artifacts object", manifest("1", "{}")},
        {"artifact without sha256", manifest("1", R"([{"path": "a.dll", "arch": "x86_64"}])")},
        {"artifact with null path", manifest("1", R"([{"path": null, "arch": "x86_64", "sha256": "ab"}])")},
        {"artifact arch number", manifest("1", R"([{"path": "a.dll", "arch": 64, "sha256": "ab"}])")},
        {"one bad artifact of two", manifest("1", std::string("[") + kArtifact + R"(, {"path": "b.dll"}])")},
        {"artifact null element", manifest("1", "[null]")},
        {"artifact string element", manifest("1", "[\"a.dll\"]")},
        {"constraints array", withConstraints("[]")},
        {"constraints string", withConstraints("\"none\"")},
        {"min_macos number", withConstraints(R"({"min_macos": 14})")},
        {"supported_cpu string", withConstraints(R"({"supported_cpu": "arm64"})")},
        {"supported_cpu with number", withConstraints(R"({"supported_cpu": ["arm64", 1]})")},
        {"supported_cpu with null", withConstraints(R"({"supported_cpu": [null]})")},
        {"invalid UTF-8 in a string", manifest("1", "[]", ", \"x\": \"\xc3\x28\"")},
        {"10,000 levels of nesting", nested},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(RuntimeManifest::decode(c.text)) << c.name;
    }
}

TEST(RuntimeManifestTest, OptionalMembersMayBeNullOrAbsent) {
    const struct {
        const char* name;
        std::string text;
        std::optional<ManifestConstraints> constraints;
    } cases[] = {
        {"no constraints", manifest("1", "[]"), std::nullopt},
        {"null constraints", withConstraints("null"), std::nullopt},
        {"empty constraints", withConstraints("{}"), ManifestConstraints{}},
        {"null members", withConstraints(R"({"min_macos": null, "supported_cpu": null})"), ManifestConstraints{}},
        {"empty supported_cpu", withConstraints(R"({"supported_cpu": []})"),
         ManifestConstraints{std::nullopt, std::vector<std::string>{}}},
        {"empty min_macos", withConstraints(R"({"min_macos": ""})"), ManifestConstraints{"", std::nullopt}},
    };
    for (const auto& c : cases) {
        auto m = RuntimeManifest::decode(c.text);
        ASSERT_TRUE(m) << c.name;
        EXPECT_EQ(m->constraints, c.constraints) << c.name;
        EXPECT_TRUE(m->artifacts.empty()) << c.name;
    }
}

TEST(RuntimeManifestTest, SchemaVersionTakesEveryIntegerSpellingInRange) {
    const struct {
        const char* text;
        int64_t value;
    } cases[] = {
        {"0", 0},   {"9223372036854775807", INT64_MAX}, {"-9223372036854775808", INT64_MIN}, {"2.0", 2}, {"1e3", 1000},
        {"-4", -4},
    };
    for (const auto& c : cases) {
        auto m = RuntimeManifest::decode(manifest(c.text));
        ASSERT_TRUE(m) << c.text;
        EXPECT_EQ(m->schema_version, c.value) << c.text;
    }
}

TEST(RuntimeManifestTest, SurvivesHugeAndDeeplyNestedInput) {
    // Deep nesting inside an ignored key: decodes, and tearing down the tree
    // does not recurse 10,000 frames.
    const std::string deep = std::string(10000, '[') + std::string(10000, ']');
    auto nestedExtra = RuntimeManifest::decode(manifest("1", "[]", ", \"x\": " + deep));
    ASSERT_TRUE(nestedExtra);

    // About 10 MB: many artifacts and a large ignored string.
    std::string artifacts = "[";
    const int count = 40000;
    for (int i = 0; i < count; ++i) {
        artifacts += (i ? "," : "") + std::string(R"({"path": "mesa-i686/f)") + std::to_string(i) +
                     R"(.dll", "arch": "i686", "sha256": ")" + std::string(64, 'a') + "\"}";
    }
    artifacts += "]";
    const std::string big = manifest("1", artifacts, ", \"pad\": \"" + std::string(6 << 20, 'p') + "\"");
    ASSERT_GT(big.size(), 10u << 20);
    auto m = RuntimeManifest::decode(big);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->artifacts.size(), static_cast<size_t>(count));
    EXPECT_EQ(m->artifacts.back().path, "mesa-i686/f" + std::to_string(count - 1) + ".dll");
}
