// libFuzzer entry point: the drop zone's judgement of any dropped path. A
// file is accepted exactly when its name ends in ".exe" in some letter case;
// otherwise the message names the extension exactly as written.
#include <string>

#include "FuzzInput.h"
#include "controller/InstallerDrop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path(reinterpret_cast<const char*>(data), size);
    const auto judgement = InstallerDrop::judge(path);
    const std::string extension = InstallerDrop::extensionOf(path);
    FUZZ_ASSERT(extension.find('/') == std::string::npos);

    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    FUZZ_ASSERT(name.size() >= extension.size() &&
                name.compare(name.size() - extension.size(), extension.size(), extension) == 0);
    if (!extension.empty())
        FUZZ_ASSERT(name.size() > extension.size() + 1 && name[name.size() - extension.size() - 1] == '.');

    FUZZ_ASSERT(judgement.accepted == (lowercase(extension) == "exe"));
    FUZZ_ASSERT(judgement.errorMessage == (judgement.accepted ? "" : "Wrong format: need .exe, not ." + extension));
    return 0;
}
