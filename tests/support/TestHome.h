#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/Bundle.h"

namespace testsupport {

// A private HOME, TMPDIR and bundle directory for one test process, removed on destruction. The home
// path holds a blank and non-ASCII letters, so every test checks that paths pass through untouched.
class TestHome {
public:
    TestHome() : root_((std::filesystem::temp_directory_path() / "ferrowick-test-XXXXXX").string()) {
        if (!::mkdtemp(root_.data())) throw std::runtime_error("mkdtemp " + root_);
        home_ = root_ + "/Home Dir \xC3\xBC\xC3\x9F", tmp_ = root_ + "/tmp", bundle_ = root_ + "/bundle";
        for (const auto* dir : {&home_, &tmp_, &bundle_}) std::filesystem::create_directories(*dir);
        ::setenv("HOME", home_.c_str(), 1), ::setenv("TMPDIR", tmp_.c_str(), 1);
        // Never for a Wine child: planted so that a leaked environment shows (FakeWine.h).
        ::setenv("FERROWICK_UNLISTED", "leaked", 1), ::setenv("WINEDEBUG", "+all", 1);
        platform::Bundle::overrideResourcePath(bundle_);
    }
    ~TestHome() {
        platform::Bundle::overrideResourcePath("");
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TestHome(const TestHome&) = delete;

    const std::string& root() const { return root_; }
    const std::string& home() const { return home_; }
    const std::string& tmp() const { return tmp_; }        // ends without "/"
    const std::string& bundle() const { return bundle_; }  // the resource directory
    std::string supportDir() const { return home_ + "/Library/Application Support/Ferrowick"; }  // not created

private:
    std::string root_, home_, tmp_, bundle_;
};

inline std::string testProgram(const std::string& name) {  // a helper program built with the tests
    return std::string(FERROWICK_TEST_PROGRAM_DIR) + "/" + name;
}
// "" when missing or unreadable. A read can fail midway (a /proc file of a process that exits meanwhile gives
// ESRCH), and libstdc++ then throws from the stream buffer whatever the stream's exception mask.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    try {
        return {std::istreambuf_iterator<char>(in), {}};
    } catch (const std::ios_base::failure&) {
        return {};
    }
}
inline void writeFile(const std::string& path, const std::string& contents) {  // replaces; creates parent directories
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

}  // namespace testsupport
