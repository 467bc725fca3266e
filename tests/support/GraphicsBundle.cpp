#include "support/GraphicsBundle.h"

#include <filesystem>
#include <stdexcept>

#include "support/TestHome.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) out += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
    return out + "\"";
}

}  // namespace

GraphicsBundle::GraphicsBundle(std::string bundleDir) : dir_(std::move(bundleDir)) {
    const std::string built = FERROWICK_BUNDLE_DIR;
    for (const std::string item : {"mesa-x86_64", "mesa-i686", "runtime.lock"}) {
        fs::copy(built + "/" + item, dir_ + "/" + item,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    auto decoded = RuntimeManifest::decode(readFile(dir_ + "/runtime.lock"));
    if (!decoded) throw std::runtime_error("the built bundle's runtime.lock does not decode");
    manifest_ = std::move(*decoded);
}

std::string encodeManifest(const RuntimeManifest& m) {
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
