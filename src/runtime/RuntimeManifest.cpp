#include "runtime/RuntimeManifest.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

const json* member(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

std::optional<std::string> requiredString(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

// An integer within the signed 64-bit range; integral floating-point
// spellings such as 1.0 or 1e2 count as integers.
std::optional<int64_t> requiredInt64(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value) return std::nullopt;
    if (value->is_number_integer() && !value->is_number_unsigned()) return value->get<int64_t>();
    if (value->is_number_unsigned()) {
        const uint64_t u = value->get<uint64_t>();
        if (u > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<int64_t>(u);
    }
    if (value->is_number_float()) {
        const double d = value->get<double>();
        // Both bounds are exclusive: an integer literal just outside the range
        // arrives here rounded onto +-2^63. -2^63 itself parses as an integer.
        if (!std::isfinite(d) || std::trunc(d) != d || d <= -9223372036854775808.0 || d >= 9223372036854775808.0)
            return std::nullopt;
        return static_cast<int64_t>(d);
    }
    return std::nullopt;
}

std::optional<ArtifactEntry> decodeArtifact(const json& object) {
    if (!object.is_object()) return std::nullopt;
    auto path = requiredString(object, "path");
    auto arch = requiredString(object, "arch");
    auto sha256 = requiredString(object, "sha256");
    if (!path || !arch || !sha256) return std::nullopt;
    return ArtifactEntry{std::move(*path), std::move(*arch), std::move(*sha256)};
}

// Outer nullopt: the document fails. Inner nullopt: the block is absent or null.
std::optional<std::optional<ManifestConstraints>> decodeConstraints(const json& root) {
    const json* object = member(root, "constraints");
    if (!object) return std::optional<ManifestConstraints>{};
    if (!object->is_object()) return std::nullopt;
    ManifestConstraints constraints;
    if (const json* min = member(*object, "min_macos")) {
        if (!min->is_string()) return std::nullopt;
        constraints.min_macos = min->get<std::string>();
    }
    if (const json* cpus = member(*object, "supported_cpu")) {
        if (!cpus->is_array()) return std::nullopt;
        std::vector<std::string> names;
        names.reserve(cpus->size());
        for (const json& name : *cpus) {
            if (!name.is_string()) return std::nullopt;
            names.push_back(name.get<std::string>());
        }
        constraints.supported_cpu = std::move(names);
    }
    return std::optional<ManifestConstraints>{std::move(constraints)};
}

}  // namespace

std::optional<RuntimeManifest> RuntimeManifest::decode(std::string_view text) {
    // No exceptions: a parse failure yields a "discarded" value.
    const json root = json::parse(text.begin(), text.end(), nullptr, false);
    if (root.is_discarded() || !root.is_object()) return std::nullopt;

    RuntimeManifest manifest;
    auto schema = requiredInt64(root, "schema_version");
    auto product = requiredString(root, "product_version");
    if (!schema || !product) return std::nullopt;
    manifest.schema_version = *schema;
    manifest.product_version = std::move(*product);

    const json* artifacts = member(root, "artifacts");
    if (!artifacts || !artifacts->is_array()) return std::nullopt;
    manifest.artifacts.reserve(artifacts->size());
    for (const json& element : *artifacts) {
        auto entry = decodeArtifact(element);
        if (!entry) return std::nullopt;
        manifest.artifacts.push_back(std::move(*entry));
    }

    auto constraints = decodeConstraints(root);
    if (!constraints) return std::nullopt;
    manifest.constraints = std::move(*constraints);
    return manifest;
}
