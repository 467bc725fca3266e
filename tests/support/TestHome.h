#pragma once

#include <string>

namespace testsupport {

// A private HOME, TMPDIR and bundle directory for one test process. The home
// path holds a blank and non-ASCII letters on purpose, so every test also
// checks that paths are passed through untouched. Removed on destruction.
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
    // HOME + "/Library/Application Support/Ferrowick" (not created).
    std::string supportDir() const;

private:
    std::string root_;
    std::string home_;
    std::string tmp_;
    std::string bundle_;
};

// Path of a helper program built with the tests.
std::string testProgram(const std::string& name);
// Whole file as bytes; "" when missing.
std::string readFile(const std::string& path);
// Writes (replacing) a file, creating parent directories.
void writeFile(const std::string& path, const std::string& contents);

}  // namespace testsupport
