#pragma once

#include <cstdlib>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// Control and call files hold "tag LEN:bytes\n" fields (any byte); shared with programs/fakewine.
inline std::string fakeWineField(const std::string& tag, const std::string& value) {
    return tag + " " + std::to_string(value.size()) + ":" + value + "\n";
}
// Reads one field; false at the end of the input or at an "end" line.
inline bool readFakeWineField(std::istream& in, std::string& tag, std::string& value) {
    std::string length;
    if (!(in >> tag) || tag == "end" || !std::getline(in, length, ':')) return false;
    value.assign(std::stoul(length), '\0');
    in.read(value.data(), static_cast<std::streamsize>(value.size()));
    return in.ignore(1), true;  // the line break
}

// What every Wine child must see, literally: WINEPREFIX, the runtime's nine settings, and HOME, USER, PATH,
// TMPDIR and LANG where this process has them. Nothing else: TestHome plants FERROWICK_UNLISTED and WINEDEBUG=+all.
inline std::map<std::string, std::string> wineChildEnvironment(const std::string& prefix) {
    std::map<std::string, std::string> env = {{"WINEPREFIX", prefix}};
    for (const std::string s :
         {"GALLIUM_DRIVER=zink", "MESA_GL_VERSION_OVERRIDE=4.5", "MESA_GLSL_VERSION_OVERRIDE=450", "mesa_glthread=true",
          "MVK_CONFIG_PREFILL_METAL_COMMAND_BUFFERS=0", "MVK_CONFIG_SYNCHRONOUS_QUEUE_SUBMITS=0",
          "MVK_CONFIG_LOG_LEVEL=0", "WINEESYNC=1", "WINEDEBUG=-all"})
        env[s.substr(0, s.find('='))] = s.substr(s.find('=') + 1);
    for (const char* name : {"HOME", "USER", "PATH", "TMPDIR", "LANG"})
        if (const char* value = std::getenv(name)) env[name] = value;
    return env;
}

struct FakeWineCall {     // one recorded invocation
    std::string program;  // "wine" or "wineserver"
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
};

// Installs programs/fakewine as Constants::wineBin() and wineserver() and drives it through its control file
// (tests/support/README.md). Construct a TestHome first. The destructor kills every process the fixture left.
class FakeWine {
public:
    FakeWine();
    ~FakeWine();
    FakeWine(const FakeWine&) = delete;

    // One control key ("wineboot.exit", "run.steam", ...) as raw bytes; configure() replaces them all.
    void set(const std::string& key, const std::string& value) { control_[key] = value, writeControl(); }
    void set(const std::string& key, int value) { set(key, std::to_string(value)); }
    void configure(std::map<std::string, std::string> keys) { control_ = std::move(keys), writeControl(); }

    std::vector<FakeWineCall> calls(const std::string& program = "") const;  // oldest first; "": every program
    // How many "wine" calls had `command` ("wineboot", "reg", a path) as their first argument.
    [[nodiscard]] size_t runs(const std::string& command) const;

    // The server state "wineserver -w" waits on and "-k" ends; setting it starts no process, and an
    // empty prefix matches every prefix.
    bool serverAlive() const;
    void setServerAlive(bool alive, const std::string& prefix = "");

    std::vector<int> livePids() const;  // fixture processes still alive

private:
    void writeControl() const;
    std::map<std::string, std::string> control_;
};

}  // namespace testsupport
