#include "support/TestHome.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/Bundle.h"

namespace fs = std::filesystem;

namespace testsupport {

TestHome::TestHome() {
    std::string base = (fs::temp_directory_path() / "ferrowick-test-XXXXXX").string();
    if (!::mkdtemp(base.data())) throw std::runtime_error("mkdtemp failed");
    root_ = base;
    home_ = root_ + "/Home Dir \xC3\xBC\xC3\x9F";  // "Home Dir üß"
    tmp_ = root_ + "/tmp";
    bundle_ = root_ + "/bundle";
    fs::create_directories(home_);
    fs::create_directories(tmp_);
    fs::create_directories(bundle_);
    ::setenv("HOME", home_.c_str(), 1);
    ::setenv("TMPDIR", tmp_.c_str(), 1);
    platform::Bundle::overrideResourcePath(bundle_);
}

TestHome::~TestHome() {
    platform::Bundle::overrideResourcePath("");
    std::error_code ec;
    fs::remove_all(root_, ec);
}

std::string TestHome::supportDir() const {
    return home_ + "/Library/Application Support/Ferrowick";
}

std::string testProgram(const std::string& name) {
    return std::string(FERROWICK_TEST_PROGRAM_DIR) + "/" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& contents) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

}  // namespace testsupport
