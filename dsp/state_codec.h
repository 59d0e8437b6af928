// The four values as stored bytes: each normalised value as the bits of a
// 32-bit float, little-endian whatever the machine, in index order. A
// stored state is read back value by value through acceptValue, so a NaN in
// it keeps the value that was there.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "dsp/opamp_params.h"

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

// A record of the four values that names itself and its version, for
// formats whose hosts store opaque state: "KV23", a little-endian version
// (1), then the four values as above. 24 bytes.
inline constexpr uint32_t kRecordVersion = 1;
inline constexpr size_t kRecordSize = 8 + kBytesPerValue * kNumParams;

inline void encodeRecord(const float (&values)[kNumParams], unsigned char (&out)[kRecordSize]) {
    const unsigned char head[8] = {'K', 'V', '2', '3', kRecordVersion, 0, 0, 0};
    for (size_t i = 0; i < 8; ++i)
        out[i] = head[i];
    for (int32_t p = 0; p < kNumParams; ++p)
        encodeValue(values[p], out + 8 + kBytesPerValue * p);
}

// Reads a record of exactly kRecordSize bytes into `values`. A record of
// another size, another name or version, or holding a value outside [0, 1]
// (a NaN included) is refused whole: false, and `values` is untouched.
inline bool decodeRecord(const unsigned char* in, size_t size, float (&values)[kNumParams]) {
    if (!in || size != kRecordSize) return false;
    const unsigned char head[8] = {'K', 'V', '2', '3', kRecordVersion, 0, 0, 0};
    for (size_t i = 0; i < 8; ++i) {
        if (in[i] != head[i]) return false;
    }
    float read[kNumParams];
    for (int32_t p = 0; p < kNumParams; ++p) {
        read[p] = decodeValue(in + 8 + kBytesPerValue * p);
        if (!(read[p] >= 0.0f && read[p] <= 1.0f)) return false;
    }
    for (int32_t p = 0; p < kNumParams; ++p)
        values[p] = read[p];
    return true;
}

}  // namespace kv::opamp
