#pragma once

#include <string>

namespace testsupport {

// Makes one existing file impossible to remove, even for root, for the
// object's lifetime: the file system's immutable flag where it has one,
// else a read-only parent directory (which stops everyone but root).
// active() tells whether the pin holds here; tests skip when it does not.
class Undeletable {
public:
    explicit Undeletable(std::string path);
    ~Undeletable();
    Undeletable(const Undeletable&) = delete;
    Undeletable& operator=(const Undeletable&) = delete;

    bool active() const { return active_; }

private:
    void release();
    std::string path_;
    bool immutable_ = false;
    bool readOnlyParent_ = false;
    bool active_ = false;
};

}  // namespace testsupport
