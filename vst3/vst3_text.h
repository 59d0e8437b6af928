// VST3's strings are UTF-16 (v3_str_128 and the like). Every text of ours
// is ASCII (names, units, the panel's value texts), so the conversions are
// plain: a character above 127 never comes from us, and one from a host
// becomes '?', which no text of ours reads as a number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv::vst3 {

// `text` into `out` (room for `size` code units), cut to fit, always ended.
inline void toUtf16(const char* text, int16_t* out, size_t size) {
    if (!out || size == 0) return;
    size_t n = 0;
    for (; text && text[n] && n + 1 < size; ++n) {
        const auto c = static_cast<unsigned char>(text[n]);
        out[n] = static_cast<int16_t>(c < 128 ? c : '?');
    }
    out[n] = 0;
}

// A host's UTF-16 text (ended by 0, at most `limit` units read) into `out`
// (room for `size` bytes), cut to fit, always ended.
inline void fromUtf16(const int16_t* text, char* out, size_t size, size_t limit) {
    if (!out || size == 0) return;
    size_t n = 0;
    for (; text && n < limit && text[n] != 0 && n + 1 < size; ++n) {
        const auto unit = static_cast<uint16_t>(text[n]);
        out[n] = static_cast<char>(unit < 128 ? unit : '?');
    }
    out[n] = 0;
}

}  // namespace kv::vst3
