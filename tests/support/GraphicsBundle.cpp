#include "support/GraphicsBundle.h"

#include <filesystem>
#include <stdexcept>

#include "support/TestHome.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

}  // namespace

GraphicsBundle::GraphicsBundle(std::string bundleDir) : dir_(std::move(bundleDir)) {
    const std::string built = FERROWICK_BUNDLE_DIR;
    for (const char* folder : {"mesa-x86_64", "mesa-i686"}) {
        fs::copy(built + "/" + folder, dir_ + "/" + folder,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    fs::copy_file(built + "/runtime.lock", dir_ + "/runtime.lock", fs::copy_options::overwrite_existing);
    auto decoded = RuntimeManifest::decode(readFile(dir_ + "/runtime.lock"));
    if (!decoded) throw std::runtime_error("the built bundle's runtime.lock does not decode");
    manifest_ = std::move(*decoded);
}

void GraphicsBundle::writeManifest(const RuntimeManifest& manifest) const {
    writeFile(dir_ + "/runtime.lock", encodeManifest(manifest));
}

std::string encodeManifest(const RuntimeManifest& manifest) {
    std::string out = "{\"schema_version\": " + std::to_string(manifest.schema_version) +
                      ", \"product_version\": " + quoted(manifest.product_version) + ", \"artifacts\": [";
    for (size_t i = 0; i < manifest.artifacts.size(); ++i) {
        const auto& a = manifest.artifacts[i];
        out += (i ? ", " : "") + std::string("{\"path\": ") + quoted(a.path) + ", \"arch\": " + quoted(a.arch) +
               ", \"sha256\": " + quoted(a.sha256) + "}";
    }
    out += "]";
    if (manifest.constraints) {
        out += ", \"constraints\": {";
        std::string sep;
        if (manifest.constraints->min_macos) {
            out += "\"min_macos\": " + quoted(*manifest.constraints->min_macos);
            sep = ", ";
        }
        if (manifest.constraints->supported_cpu) {
            out += sep + "\"supported_cpu\": [";
            const auto& cpus = *manifest.constraints->supported_cpu;
            for (size_t i = 0; i < cpus.size(); ++i) out += (i ? ", " : "") + quoted(cpus[i]);
            out += "]";
        }
        out += "}";
    }
    return out + "}";
}

}  // namespace testsupport
