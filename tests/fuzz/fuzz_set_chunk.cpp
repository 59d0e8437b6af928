// effSetChunk with random bytes and sizes, as a damaged or foreign session
// file delivers them. The chunk sits in a heap block of exactly its size, so
// the address sanitizer stops a single byte read past it. Afterwards every
// parameter is a number in [0, 1], values a whole chunk carried are applied
// (clamped), and effGetChunk gives back what getParameter reads.
#include <bit>
#include <memory>

#include "tests/fuzz/fuzz_support.h"

namespace {

using kvtest::broken;
using kvtest::Instance;

float clampUnit(float v) {
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the preset flag and splits the rest into the
    // chunk and a tail the host does not pass.
    const bool preset = (data[0] & 1) != 0;
    const size_t chunkSize = (data[0] & 0x80) != 0 ? (size - 1) / 2 : size - 1;
    Instance fx;
    const int32_t n = fx->numParams;
    std::vector<float> before(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i)
        before[static_cast<size_t>(i)] = fx->getParameter(fx.get(), i);

    auto chunk = std::make_unique<uint8_t[]>(chunkSize);
    std::memcpy(chunk.get(), data + 1, chunkSize);
    fx.dispatch(effSetChunk, preset ? 1 : 0, static_cast<intptr_t>(chunkSize),
                chunkSize > 0 ? chunk.get() : nullptr);
    chunk.reset();  // the host may free its buffer right after the call
    fx.checkParameters();

    // A complete chunk is applied, clamped, a NaN keeping the value there
    // was; a short one may be applied as far as it goes or ignored.
    const bool whole = chunkSize >= 4u * static_cast<size_t>(n);
    for (int32_t i = 0; i < n && 4u * static_cast<size_t>(i + 1) <= chunkSize; ++i) {
        uint32_t bits = 0;
        for (int b = 0; b < 4; ++b)
            bits |= static_cast<uint32_t>(data[1 + 4 * i + b]) << (8 * b);
        const float sent = std::bit_cast<float>(bits);
        const float expected = std::isnan(sent) ? before[static_cast<size_t>(i)] : clampUnit(sent);
        const float got = fx->getParameter(fx.get(), i);
        if (got != expected && (whole || got != before[static_cast<size_t>(i)])) {
            broken("a chunk value not applied");
        }
    }

    void* saved = nullptr;
    const intptr_t savedSize = fx.dispatch(effGetChunk, preset ? 1 : 0, 0, &saved);
    if (savedSize != 4 * n || saved == nullptr) broken("effGetChunk size");
    for (int32_t i = 0; i < n; ++i) {
        float v = 0.0f;
        std::memcpy(&v, static_cast<const uint8_t*>(saved) + 4 * i, 4);
        if (v != fx->getParameter(fx.get(), i)) broken("the saved chunk differs from the values");
    }
    return 0;
}
