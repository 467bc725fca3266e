#pragma once

#include <filesystem>
#include <string>

#include "runtime/RuntimeManifest.h"
#include "support/TestHome.h"

namespace testsupport {

// The graphics DLLs and runtime.lock of the build's staged bundle, copied
// into a test's own bundle directory so tests may damage them freely.
class GraphicsBundle {
public:
    explicit GraphicsBundle(std::string bundleDir) : dir_(std::move(bundleDir)) {
        for (const std::string item : {"mesa-x86_64", "mesa-i686", "runtime.lock"}) {
            std::filesystem::copy(
                std::string(FERROWICK_BUNDLE_DIR) + "/" + item, dir_ + "/" + item,
                std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
        }
        manifest_ = RuntimeManifest::decode(readFile(dir_ + "/runtime.lock")).value();  // throws if it does not decode
    }

    // The manifest as staged, in file order.
    const RuntimeManifest& manifest() const { return manifest_; }
    std::string fileOf(const ArtifactEntry& artifact) const { return dir_ + "/" + artifact.path; }

private:
    std::string dir_;
    RuntimeManifest manifest_;
};

// The manifest as runtime.lock text.
inline std::string encodeManifest(const RuntimeManifest& m) {
    const auto quoted = [](const std::string& text) {
        std::string out = "\"";
        for (char c : text) out += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
        return out + "\"";
    };
    std::string out = "{\"schema_version\": " + std::to_string(m.schema_version) +
                      ", \"product_version\": " + quoted(m.product_version) + ", \"artifacts\": [";
    for (size_t i = 0; i < m.artifacts.size(); ++i) {
        const auto& a = m.artifacts[i];
        out += (i ? ", {\"path\": " : "{\"path\": ") + quoted(a.path) + ", \"arch\": " + quoted(a.arch) +
               ", \"sha256\": " + quoted(a.sha256) + "}";
    }
    out += "]";
    if (!m.constraints) return out + "}";
    std::string fields;
    if (m.constraints->min_macos) fields = "\"min_macos\": " + quoted(*m.constraints->min_macos);
    if (const auto& cpus = m.constraints->supported_cpu) {
        fields += (fields.empty() ? "" : ", ") + std::string("\"supported_cpu\": [");
        for (size_t i = 0; i < cpus->size(); ++i) fields += (i ? ", " : "") + quoted((*cpus)[i]);
        fields += "]";
    }
    return out + ", \"constraints\": {" + fields + "}}";
}

}  // namespace testsupport
