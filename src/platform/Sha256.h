#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Incremental SHA-256. OpenSSL's libcrypto on Linux, CommonCrypto on Apple.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, size_t size);
    void update(std::string_view data) { update(data.data(), data.size()); }
    // 64 lower-case hexadecimal digits. The hasher cannot be updated afterwards.
    [[nodiscard]] std::string finalizeHex();

    [[nodiscard]] static std::string hex(std::string_view data);

private:
    static std::string lowerHex(const unsigned char* digest, size_t length);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
