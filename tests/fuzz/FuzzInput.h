#pragma once
// Helpers shared by the libFuzzer entry points.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The input split at every NUL byte, so one input carries several strings.
inline std::vector<std::string> fuzzFields(const uint8_t* data, size_t size) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < size; ++i) data[i] ? fields.back() += static_cast<char>(data[i]) : fields.emplace_back();
    return fields;
}
inline std::string lowercase(std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return text;
}
// Aborts with the failed condition, so libFuzzer keeps the input as a crash.
inline void fuzzCheck(bool holds, const char* condition) {
    if (!holds) std::printf("fuzz assertion failed: %s\n", condition), std::abort();
}
#define FUZZ_ASSERT(condition) fuzzCheck(condition, #condition)
