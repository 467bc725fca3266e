#pragma once

#include <string>
#include <vector>

#include "runtime/RuntimeManifest.h"

namespace testsupport {

// The graphics DLLs of the build's staged bundle, copied into a test's own
// bundle directory so tests may damage them freely.
class GraphicsBundle {
public:
    // Copies mesa-x86_64/, mesa-i686/ and runtime.lock from the built bundle.
    explicit GraphicsBundle(std::string bundleDir);

    const std::string& dir() const { return dir_; }
    // The manifest as staged (decoded), in file order.
    const RuntimeManifest& manifest() const { return manifest_; }
    std::string fileOf(const ArtifactEntry& artifact) const { return dir_ + "/" + artifact.path; }

    // Replaces runtime.lock with `manifest`, encoded as JSON.
    void writeManifest(const RuntimeManifest& manifest) const;

private:
    std::string dir_;
    RuntimeManifest manifest_;
};

// The manifest as runtime.lock text.
std::string encodeManifest(const RuntimeManifest& manifest);

}  // namespace testsupport
