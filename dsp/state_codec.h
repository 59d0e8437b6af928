// The four values as stored bytes: each normalised value as the bits of a
// 32-bit float, little-endian whatever the machine, in index order. A
// stored state is read back value by value through acceptValue, so a NaN in
// it keeps the value that was there.
#pragma once

#include <bit>
#include <cstdint>

namespace kv::opamp {

inline constexpr int32_t kBytesPerValue = 4;

inline void encodeValue(float value, unsigned char* out) {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    for (int32_t b = 0; b < kBytesPerValue; ++b)
        out[b] = static_cast<unsigned char>(bits >> (8 * b));
}

inline float decodeValue(const unsigned char* in) {
    uint32_t bits = 0;
    for (int32_t b = 0; b < kBytesPerValue; ++b)
        bits |= static_cast<uint32_t>(in[b]) << (8 * b);
    return std::bit_cast<float>(bits);
}

}  // namespace kv::opamp
