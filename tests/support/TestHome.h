#pragma once

#include <string>

namespace testsupport {

// A private HOME, TMPDIR and bundle directory for one test process, removed on destruction. The home
// path holds a blank and non-ASCII letters, so every test checks that paths pass through untouched.
class TestHome {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    const std::string& root() const { return root_; }
    const std::string& home() const { return home_; }
    const std::string& tmp() const { return tmp_; }        // ends without "/"
    const std::string& bundle() const { return bundle_; }  // the resource directory
    std::string supportDir() const { return home_ + "/Library/Application Support/Ferrowick"; }  // not created

private:
    std::string root_, home_, tmp_, bundle_;
};

std::string testProgram(const std::string& name);                      // a helper program built with the tests
std::string readFile(const std::string& path);                         // "" when missing
void writeFile(const std::string& path, const std::string& contents);  // replaces; creates parent directories

}  // namespace testsupport
