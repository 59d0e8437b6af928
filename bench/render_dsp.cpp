// Renders test signals through the DSP core directly (no plug-in file), to
// WAV files for alias_analysis: the same input the real plug-ins are given
// through `kv23 process` and a peer through `lv2apply`.
//
//   kv_render_dsp --out FILE [--rate HZ] [--quality exact|clean|dry]
//                 [--gain G] [--pad1 0|1] [--pad2 0|1] [--volume V]
//                 [--sine HZ [--level L] | --pink5k [--level RMS]]
//                 [--seconds S] [--block N]
//                 [--switch-at S] [--gain-to G --at S]
//   kv_render_dsp --latency [--rate HZ]        prints Clean's latency
//
// Values are normalised as the plug-in's parameters are. --switch-at turns
// the quality over to the other one at that time; --gain-to steps the gain
// at --at (both at the start of the block that holds the time). "dry"
// writes the input itself. Stereo float WAV, the same signal on both
// channels.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "dsp/opamp_kernel.h"
#include "dsp/opamp_processor.h"

namespace {

struct Options {
    std::string out;
    double rate = 48000.0;
    std::string quality = "exact";
    float gain = 0.25f, pad1 = 0.0f, pad2 = 0.0f, volume = 0.5f;
    double sine = 0.0;
    bool pink = false;
    double level = -1.0;
    double seconds = 2.0;
    int block = 256;
    double switchAt = -1.0;
    double stepAt = -1.0;
    float gainTo = 0.0f;
    bool latency = false;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        auto num = [&] { return std::strtod(argv[++i], nullptr); };
        if (a == "--latency") {
            o.latency = true;
        } else if (a == "--pink5k") {
            o.pink = true;
        } else if (!more) {
            return false;
        } else if (a == "--out") {
            o.out = argv[++i];
        } else if (a == "--quality") {
            o.quality = argv[++i];
        } else if (a == "--rate") {
            o.rate = num();
        } else if (a == "--gain") {
            o.gain = static_cast<float>(num());
        } else if (a == "--pad1") {
            o.pad1 = static_cast<float>(num());
        } else if (a == "--pad2") {
            o.pad2 = static_cast<float>(num());
        } else if (a == "--volume") {
            o.volume = static_cast<float>(num());
        } else if (a == "--sine") {
            o.sine = num();
        } else if (a == "--level") {
            o.level = num();
        } else if (a == "--seconds") {
            o.seconds = num();
        } else if (a == "--block") {
            o.block = static_cast<int>(num());
        } else if (a == "--switch-at") {
            o.switchAt = num();
        } else if (a == "--gain-to") {
            o.gainTo = static_cast<float>(num());
        } else if (a == "--at") {
            o.stepAt = num();
        } else {
            return false;
        }
    }
    return o.latency || (!o.out.empty() && (o.sine > 0.0 || o.pink) && o.block > 0);
}

// Pink noise (Kellet's filter of white noise), then a steep low-pass at
// 5 kHz (four biquads, Butterworth), scaled to the RMS level.
std::vector<float> pinkBelow5k(size_t n, double rate, double rms) {
    std::mt19937 rng(23);
    std::normal_distribution<double> white(0.0, 1.0);
    std::vector<double> v(n);
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    for (double& x : v) {
        const double w = white(rng);
        b0 = 0.99886 * b0 + w * 0.0555179;
        b1 = 0.99332 * b1 + w * 0.0750759;
        b2 = 0.96900 * b2 + w * 0.1538520;
        b3 = 0.86650 * b3 + w * 0.3104856;
        b4 = 0.55000 * b4 + w * 0.5329522;
        b5 = -0.7616 * b5 - w * 0.0168980;
        x = b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362;
        b6 = w * 0.115926;
    }
    const double k = std::tan(std::numbers::pi * 5000.0 / rate);
    for (int section = 0; section < 4; ++section) {
        const double q =
            1.0 / (2.0 * std::sin(std::numbers::pi * (2.0 * section + 1.0) / 16.0));  // 8th order
        const double norm = 1.0 / (1.0 + k / q + k * k);
        const double a0 = k * k * norm, a1 = 2.0 * a0, a2 = a0;
        const double c1 = 2.0 * (k * k - 1.0) * norm, c2 = (1.0 - k / q + k * k) * norm;
        double z1 = 0.0, z2 = 0.0;
        for (double& x : v) {
            const double y = a0 * x + z1;
            z1 = a1 * x - c1 * y + z2;
            z2 = a2 * x - c2 * y;
            x = y;
        }
    }
    double sum = 0.0;
    for (double x : v)
        sum += x * x;
    const double scale = rms / std::sqrt(sum / static_cast<double>(n));
    std::vector<float> f(n);
    for (size_t i = 0; i < n; ++i)
        f[i] = static_cast<float>(v[i] * scale);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: see the comment at the top of bench/render_dsp.cpp\n");
        return 2;
    }
    using kv::opamp::OpampProcessor;
    using kv::opamp::Quality;
    OpampProcessor p;
    if (!p.prepare(o.rate, o.block)) {
        std::fprintf(stderr, "cannot prepare for %g Hz\n", o.rate);
        return 1;
    }
    if (o.latency) {
        std::printf("%d\n", p.latency(Quality::kClean));
        return 0;
    }
    const auto n = static_cast<size_t>(std::lround(o.seconds * o.rate));
    std::vector<float> in;
    if (o.pink) {
        in = pinkBelow5k(n, o.rate, o.level > 0 ? o.level : 0.1);
    } else {
        in.resize(n);
        const double a = o.level > 0 ? o.level : 0.5;
        for (size_t i = 0; i < n; ++i)
            in[i] = static_cast<float>(
                a * std::sin(2.0 * std::numbers::pi * o.sine * static_cast<double>(i) / o.rate));
    }
    std::vector<float> outL(n), outR(n);
    Quality q = o.quality == "clean" ? Quality::kClean : Quality::kExact;
    float gain = o.gain;
    const auto at = [&](double s) { return s < 0 ? n : static_cast<size_t>(s * o.rate); };
    const size_t switchAt = at(o.switchAt), stepAt = at(o.stepAt);
    for (size_t done = 0; done < n;) {
        const size_t len = std::min(n - done, static_cast<size_t>(o.block));
        if (done <= switchAt && switchAt < done + len)
            q = q == Quality::kClean ? Quality::kExact : Quality::kClean;
        if (done <= stepAt && stepAt < done + len) gain = o.gainTo;
        const auto k = kv::opamp::controlsFor(p.state(), gain, o.pad1, o.pad2, o.volume);
        if (o.quality == "dry") {
            std::memcpy(outL.data() + done, in.data() + done, len * sizeof(float));
            std::memcpy(outR.data() + done, in.data() + done, len * sizeof(float));
        } else {
            p.run<float, false>(k, q, false, in.data() + done, in.data() + done, outL.data() + done,
                                outR.data() + done, static_cast<int32_t>(len));
        }
        done += len;
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(o.rate));
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(o.out.c_str(), SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "cannot write %s: %s\n", o.out.c_str(), sf_strerror(nullptr));
        return 1;
    }
    std::vector<float> frames(2 * n);
    for (size_t i = 0; i < n; ++i) {
        frames[2 * i] = outL[i];
        frames[2 * i + 1] = outR[i];
    }
    sf_writef_float(f, frames.data(), static_cast<sf_count_t>(n));
    sf_close(f);
    return 0;
}
