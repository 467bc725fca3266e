#include "platform/Sha256.h"

namespace platform {

std::string Sha256::lowerHex(const unsigned char* digest, size_t length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
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
