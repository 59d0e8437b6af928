// Processing with random parameters, rates, block sizes and precisions, on
// random input: sometimes any bit pattern (NaN, infinities, denormals,
// 1e38), mostly samples a signal chain can carry (up to 1e6). No input may
// crash the instance or write outside the block; and while the input has
// been finite and bounded, the output must be finite.
#include "tests/fuzz/fuzz_support.h"

namespace {

using kvtest::broken;
using kvtest::Instance;
using kvtest::Reader;

constexpr float kRates[] = {22050.0f, 44100.0f, 48000.0f, 88200.0f, 96000.0f, 192000.0f};
constexpr double kBound = 1e6;

template <typename Sample>
bool fillBlock(Reader& in, std::vector<Sample>& l, std::vector<Sample>& r, bool raw) {
    bool clean = true;
    for (size_t i = 0; i < l.size(); ++i) {
        for (std::vector<Sample>* channel : {&l, &r}) {
            Sample v;
            if (raw) {
                v = in.take<Sample>();
            } else {
                // 16 bits of sample spread over the useful range and beyond.
                const int16_t s = in.take<int16_t>();
                const uint8_t scale = in.take<uint8_t>() % 8;
                static constexpr double kScales[] = {1e-40,    1e-6, 1.0 / 32768, 1.0 / 4096,
                                                     1.0 / 64, 1.0,  16.0,        30.0};
                v = static_cast<Sample>(s * kScales[scale]);
            }
            (*channel)[i] = v;
            clean = clean && std::isfinite(static_cast<double>(v)) &&
                    std::fabs(static_cast<double>(v)) <= kBound;
        }
    }
    return clean;
}

template <typename Sample>
void block(Instance& fx, Reader& in, bool& historyClean) {
    const int32_t frames = static_cast<int32_t>(in.take<uint16_t>() % 600);
    const bool raw = in.take<uint8_t>() < 24;
    const bool inPlace = in.take<uint8_t>() < 64;
    std::vector<Sample> l(static_cast<size_t>(frames)), r(static_cast<size_t>(frames));
    std::vector<Sample> outL(static_cast<size_t>(frames)), outR(static_cast<size_t>(frames));
    historyClean = fillBlock(in, l, r, raw) && historyClean;
    Sample* ins[2] = {l.data(), r.data()};
    Sample* outs[2] = {inPlace ? l.data() : outL.data(), inPlace ? r.data() : outR.data()};
    if constexpr (sizeof(Sample) == sizeof(float)) {
        fx->processReplacing(fx.get(), ins, outs, frames);
    } else {
        fx->processDoubleReplacing(fx.get(), ins, outs, frames);
    }
    if (!historyClean) return;
    for (int32_t i = 0; i < frames; ++i) {
        if (!std::isfinite(static_cast<double>(outs[0][i])) ||
            !std::isfinite(static_cast<double>(outs[1][i]))) {
            broken("finite, bounded input gave non-finite output");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    Instance fx;
    fx.dispatch(effSetSampleRate, 0, 0, nullptr, kRates[in.take<uint8_t>() % 6]);
    fx.dispatch(effMainsChanged, 0, 1);
    bool historyClean = true;
    for (int step = 0; step < 16 && !in.empty(); ++step) {
        const uint8_t what = in.take<uint8_t>();
        if (what < 64) {
            // Any float, NaN and infinities included: the effect clamps or
            // refuses them.
            fx->setParameter(fx.get(), in.take<uint8_t>() % 5, in.take<float>());
        } else if (what < 160) {
            block<float>(fx, in, historyClean);
        } else {
            block<double>(fx, in, historyClean);
        }
        fx.checkParameters();
    }
    return 0;
}
