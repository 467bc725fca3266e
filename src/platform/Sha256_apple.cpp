#include <CommonCrypto/CommonDigest.h>

#include "platform/Sha256.h"

namespace platform {

struct Sha256::Impl {
    CC_SHA256_CTX ctx;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
    CC_SHA256_Init(&impl_->ctx);
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, size_t size) {
    // CC_LONG is 32 bits; feed large buffers in slices.
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        CC_LONG slice = size > 0x40000000 ? 0x40000000 : static_cast<CC_LONG>(size);
        CC_SHA256_Update(&impl_->ctx, bytes, slice);
        bytes += slice;
        size -= slice;
    }
}

std::string Sha256::finalizeHex() {
    unsigned char digest[CC_SHA256_DIGEST_LENGTH];
    CC_SHA256_Final(digest, &impl_->ctx);
    return lowerHex(digest, sizeof digest);
}

}  // namespace platform
