#pragma once

#include <string>

namespace testsupport {

// Makes one existing file or directory impossible to remove for the object's
// lifetime: the file system's immutable flag (which stops even root) where it
// takes, else, for anyone but root, a read-only parent directory. active()
// tells whether the pin holds; tests skip when it does not.
class Undeletable {
public:
    explicit Undeletable(std::string path);
    ~Undeletable();
    Undeletable(const Undeletable&) = delete;
    Undeletable& operator=(const Undeletable&) = delete;
    bool active() const { return immutable_ || readOnlyParent_; }

private:
    std::string path_;
    bool immutable_ = false, readOnlyParent_ = false;
};

}  // namespace testsupport
