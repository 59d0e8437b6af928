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

// A record of the values that names itself and its version, for formats
// whose hosts store opaque state: "KV23", a little-endian version, then the
// values as above. Version 2 (28 bytes) holds every parameter, the quality
// included; version 1 (24 bytes, the first release of these formats) holds
// the model's four, and reads as Exact.
inline constexpr uint32_t kRecordVersion = 2;
inline constexpr size_t kRecordSize = 8 + kBytesPerValue * kNumAllParams;
inline constexpr size_t kRecordSizeV1 = 8 + kBytesPerValue * kNumParams;

inline void encodeRecord(const float (&values)[kNumAllParams], unsigned char (&out)[kRecordSize]) {
    const unsigned char head[8] = {'K', 'V', '2', '3', kRecordVersion, 0, 0, 0};
    for (size_t i = 0; i < 8; ++i)
        out[i] = head[i];
    for (int32_t p = 0; p < kNumAllParams; ++p)
        encodeValue(values[p], out + 8 + kBytesPerValue * p);
}

// The size of the record whose first 8 bytes are `head`: 0 when the head
// is not one of ours (another name, an unknown version).
inline size_t recordSizeOf(const unsigned char* head) {
    if (head[0] != 'K' || head[1] != 'V' || head[2] != '2' || head[3] != '3' || head[5] != 0 ||
        head[6] != 0 || head[7] != 0)
        return 0;
    if (head[4] == 1) return kRecordSizeV1;
    return head[4] == kRecordVersion ? kRecordSize : 0;
}

// Reads a record of exactly its version's size into `values` (a version 1
// record sets the quality to Exact). A record of another size, another name
// or version, or holding a value outside [0, 1] (a NaN included) is refused
// whole: false, and `values` is untouched.
inline bool decodeRecord(const unsigned char* in, size_t size, float (&values)[kNumAllParams]) {
    if (!in || size < 8 || size != recordSizeOf(in)) return false;
    const int32_t count = in[4] == 1 ? kNumParams : kNumAllParams;
    float read[kNumAllParams] = {};  // a value the record lacks is its default: Exact
    for (int32_t p = 0; p < count; ++p) {
        read[p] = decodeValue(in + 8 + kBytesPerValue * p);
        if (!(read[p] >= 0.0f && read[p] <= 1.0f)) return false;
    }
    for (int32_t p = 0; p < kNumAllParams; ++p)
        values[p] = read[p];
    return true;
}

}  // namespace kv::opamp
