#pragma once

#include <string>

#include "runtime/RuntimeManifest.h"

namespace testsupport {

// The graphics DLLs and runtime.lock of the build's staged bundle, copied
// into a test's own bundle directory so tests may damage them freely.
class GraphicsBundle {
public:
    explicit GraphicsBundle(std::string bundleDir);

    // The manifest as staged, in file order.
    const RuntimeManifest& manifest() const { return manifest_; }
    std::string fileOf(const ArtifactEntry& artifact) const { return dir_ + "/" + artifact.path; }

private:
    std::string dir_;
    RuntimeManifest manifest_;
};

// The manifest as runtime.lock text.
std::string encodeManifest(const RuntimeManifest& manifest);

}  // namespace testsupport
