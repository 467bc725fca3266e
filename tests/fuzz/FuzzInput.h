#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Splits a fuzz input into fields at every NUL byte, so one input can carry
// several strings (arguments, output, a base URL and a redirect).
inline std::vector<std::string> fuzzFields(const uint8_t* data, size_t size) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < size; ++i) data[i] ? fields.back() += static_cast<char>(data[i]) : fields.emplace_back();
    return fields;
}

inline std::string lowercase(std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return text;
}

[[noreturn]] inline void fuzzFailed(const char* condition, const char* file, int line) {
    std::printf("fuzz assertion failed: %s (%s:%d)\n", condition, file, line);
    std::abort();
}

// Aborts with the failed condition, so libFuzzer saves the input as a crash.
#define FUZZ_ASSERT(condition) ((condition) ? void() : fuzzFailed(#condition, __FILE__, __LINE__))
