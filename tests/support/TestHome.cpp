#include "support/TestHome.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/Bundle.h"

namespace fs = std::filesystem;

namespace testsupport {

TestHome::TestHome() : root_((fs::temp_directory_path() / "ferrowick-test-XXXXXX").string()) {
    if (!::mkdtemp(root_.data())) throw fs::filesystem_error("mkdtemp", root_, {errno, std::generic_category()});
    home_ = root_ + "/Home Dir \xC3\xBC\xC3\x9F", tmp_ = root_ + "/tmp", bundle_ = root_ + "/bundle";  // "Home Dir üß"
    for (const auto* dir : {&home_, &tmp_, &bundle_}) fs::create_directories(*dir);
    ::setenv("HOME", home_.c_str(), 1), ::setenv("TMPDIR", tmp_.c_str(), 1);
    // Never for a Wine child: planted so that a leaked environment shows (FakeWine.h).
    ::setenv("FERROWICK_UNLISTED", "leaked", 1), ::setenv("WINEDEBUG", "+all", 1);
    platform::Bundle::overrideResourcePath(bundle_);
}

TestHome::~TestHome() {
    platform::Bundle::overrideResourcePath("");
    std::error_code ec;
    fs::remove_all(root_, ec);
}

std::string testProgram(const std::string& name) {
    return std::string(FERROWICK_TEST_PROGRAM_DIR) + "/" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const std::string& path, const std::string& contents) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

}  // namespace testsupport
