// libFuzzer entry point: the drop zone's judgement of any dropped path. A file is accepted exactly
// when its name's extension is "exe" in some letter case; the message names the extension as written.
#include "FuzzInput.h"
#include "controller/InstallerDrop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path(reinterpret_cast<const char*>(data), size);
    const auto judgement = InstallerDrop::judge(path);
    const std::string ext = InstallerDrop::extensionOf(path);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::string name = path.substr(path.rfind('/') + 1);  // npos + 1: the whole path
    FUZZ_ASSERT(ext.find('/') == std::string::npos && name.ends_with(ext));
    FUZZ_ASSERT(ext.empty() || (name.size() > ext.size() + 1 && name[name.size() - ext.size() - 1] == '.'));
    FUZZ_ASSERT(judgement.accepted == (lowercase(ext) == "exe"));
    FUZZ_ASSERT(judgement.errorMessage == (judgement.accepted ? "" : "Wrong format: need .exe, not ." + ext));
    return 0;
}
