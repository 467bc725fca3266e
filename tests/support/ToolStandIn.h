#pragma once

#include <filesystem>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "support/FakeWine.h"
#include "support/TestHome.h"

namespace testsupport {

// Test fixture for a macOS system tool that does not exist here (xattr, sw_vers): programs/argdump copied
// into `dir` under the tool's name. Every run records its arguments, and the entries of the directory its
// last argument names at that moment, then prints `output` and exits 0.
class ToolStandIn {
public:
    struct Call {
        std::vector<std::string> args, entries;
        bool operator==(const Call&) const = default;
        friend std::ostream& operator<<(std::ostream& os, const Call& call) {
            os << "args";
            for (const auto& arg : call.args) os << " [" << arg << "]";
            os << ", entries";
            for (const auto& entry : call.entries) os << " [" << entry << "]";
            return os;
        }
    };

    ToolStandIn(const std::string& dir, const std::string& name, const std::string& output = "")
        : path_(dir + "/" + name) {
        std::filesystem::create_directories(dir);
        std::filesystem::copy_file(testProgram("argdump"), path_, std::filesystem::copy_options::overwrite_existing);
        writeFile(path_ + ".output", output);
    }
    const std::string& path() const { return path_; }

    std::vector<Call> calls() const {  // oldest first
        std::vector<Call> out;
        std::istringstream in(readFile(path_ + ".calls"));
        while (in.peek() != EOF) {
            Call& call = out.emplace_back();
            for (std::string tag, value; readFakeWineField(in, tag, value);)
                (tag == "arg" ? call.args : call.entries).push_back(value);
            in.ignore(1);  // the line break after "end"
        }
        return out;
    }

private:
    std::string path_;
};

}  // namespace testsupport
