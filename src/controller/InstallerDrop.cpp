#include "controller/InstallerDrop.h"

namespace InstallerDrop {

namespace {
constexpr std::string_view kWrongFormatPrefix = "Wrong format: need .exe, not .";

// Only ASCII letters matter: no other character lower-cases to "e" or "x".
bool isExe(std::string_view extension) {
    if (extension.size() != 3) return false;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(extension[0]) == 'e' && lower(extension[1]) == 'x' && lower(extension[2]) == 'e';
}
}  // namespace

std::string extensionOf(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    // A leading dot marks a hidden name, not an extension.
    if (dot == std::string_view::npos || dot == 0) return {};
    return std::string(name.substr(dot + 1));
}

Judgement judge(std::string_view path) {
    const std::string extension = extensionOf(path);
    if (isExe(extension)) return {true, {}};
    return {false, std::string(kWrongFormatPrefix) + extension};
}

}  // namespace InstallerDrop
