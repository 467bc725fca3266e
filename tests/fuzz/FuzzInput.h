#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Splits a fuzz input into fields at every NUL byte, so one input can carry
// several strings (arguments, output, a base URL and a redirect).
inline std::vector<std::string> fuzzFields(const uint8_t* data, size_t size) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            fields.emplace_back();
        else
            fields.back() += static_cast<char>(data[i]);
    }
    return fields;
}

// Aborts with the failed condition, so libFuzzer saves the input as a crash.
#define FUZZ_ASSERT(condition)                                                                       \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            __builtin_printf("fuzz assertion failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            __builtin_abort();                                                                       \
        }                                                                                            \
    } while (0)
