#pragma once

#include <filesystem>
#include <string>

#include "runtime/RuntimeManifest.h"
#include "support/TestHome.h"

namespace testsupport {

// The graphics DLLs and runtime.lock of the build's staged bundle, copied into a test's own bundle
// directory so tests may damage them freely.
class GraphicsBundle {
public:
    explicit GraphicsBundle(const std::string& dir) : dir_(dir) {
        for (const std::string item : {"mesa-x86_64", "mesa-i686", "runtime.lock"})
            std::filesystem::copy(
                std::string(FERROWICK_BUNDLE_DIR) + "/" + item, dir + "/" + item,
                std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
        manifest_ = RuntimeManifest::decode(readFile(dir + "/runtime.lock")).value();  // throws if it does not decode
    }
    const RuntimeManifest& manifest() const { return manifest_; }                                   // in file order
    std::string fileOf(const ArtifactEntry& artifact) const { return dir_ + "/" + artifact.path; }  // one DLL

private:
    std::string dir_;
    RuntimeManifest manifest_;
};

}  // namespace testsupport
