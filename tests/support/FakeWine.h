#pragma once

#include <map>
#include <string>
#include <vector>

namespace testsupport {

// One recorded invocation of the fake wine or wineserver.
struct FakeWineCall {
    std::string program;  // "wine" or "wineserver"
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    std::string cwd;
};

// Test fixture for the launcher's Wine runtime: installs the fakewine helper
// program as Constants::wineBin() and Constants::wineserver() and drives it
// through its control file (see tests/support/README.md for the keys).
// Construct a TestHome first. The destructor ends every process the fixture
// left behind (fake servers, children holding stdout); TestHome removes the
// files.
class FakeWine {
public:
    FakeWine();
    ~FakeWine();
    FakeWine(const FakeWine&) = delete;
    FakeWine& operator=(const FakeWine&) = delete;

    // The bin directory holding wine, wineserver and the fixture's files.
    static std::string binDir();
    std::string controlPath() const;

    // Sets one control key ("wineboot.exit", "run.steam", ...). The value is
    // taken as raw bytes: line breaks and invalid UTF-8 survive.
    void set(const std::string& key, const std::string& value);
    void set(const std::string& key, int value) { set(key, std::to_string(value)); }
    void unset(const std::string& key);
    // Replaces every key at once; configure({}) restores the defaults.
    void configure(const std::map<std::string, std::string>& keys);

    // Every invocation so far, oldest first; calls("wine") keeps one program.
    std::vector<FakeWineCall> calls(const std::string& program = "") const;

    // The server state that "wineserver -w" waits on and "-k" ends. Setting
    // it here starts no process; an empty prefix matches every prefix.
    bool serverAlive() const;
    void setServerAlive(bool alive, const std::string& prefix = "");

    // Ends every process the fixture started, now.
    void killLeftovers();
    // Pids of fixture processes still alive.
    std::vector<int> livePids() const;

private:
    void writeControl() const;
    std::map<std::string, std::string> control_;
};

}  // namespace testsupport
