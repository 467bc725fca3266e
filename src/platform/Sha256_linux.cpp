#include <openssl/evp.h>

#include "platform/Sha256.h"

namespace platform {

struct Sha256::Impl {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Impl() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
    EVP_DigestInit_ex(impl_->ctx, EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, size_t size) {
    EVP_DigestUpdate(impl_->ctx, data, size);
}

std::string Sha256::finalizeHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(impl_->ctx, digest, &length);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(kDigits[digest[i] >> 4]);
        out.push_back(kDigits[digest[i] & 0xF]);
    }
    return out;
}

std::string Sha256::hex(std::string_view data) {
    Sha256 h;
    h.update(data);
    return h.finalizeHex();
}

}  // namespace platform
