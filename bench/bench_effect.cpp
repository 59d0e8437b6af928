// Cost of the effect's processing per stereo frame, beside a bare loop of
// the same arithmetic written here without the plug-in's plumbing (no
// trampoline, no virtual call, no atomics, no shared kernel). The ratio
// plug-in / bare loop shows what the plumbing costs; it is printed after
// the benchmarks for each precision and block size.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "plugin/brackenlume_opamp.h"

namespace {

template <typename T>
struct Buffers {
    std::vector<T> inL, inR, outL, outR;
    explicit Buffers(int frames) : inL(frames), inR(frames), outL(frames), outR(frames) {
        std::mt19937 rng(42);
        std::uniform_real_distribution<double> dist(-0.7, 0.7);
        for (int i = 0; i < frames; ++i) {
            inL[i] = static_cast<T>(dist(rng));
            inR[i] = static_cast<T>(dist(rng));
        }
    }
};

// The model written out plainly: one struct, one loop.
struct BareState {
    double sat[2] = {0.0, 0.0};
    double x1[2] = {0.0, 0.0};
    double y1[2] = {0.0, 0.0};
    double b0 = 0.0, b1 = 0.0, a1 = 0.0;
    double bias = 1e-15;
    float gain = 0.25f, pad1 = 0.0f, pad2 = 0.0f, volume = 0.5f;

    explicit BareState(double fs) {
        const double w = 1.0 / std::tan(M_PI * 15.0 / fs);
        a1 = (1.0 - w) / (w + 1.0);
        b0 = w / (w + 1.0);
        b1 = -b0;
    }
};

template <typename T>
void bareBlock(BareState& s, const T* inL, const T* inR, T* outL, T* outR, int frames) {
    const double dB = std::log(10.0) / 20.0;
    const double h =
        (s.pad1 > 0.5f ? std::pow(10.0, 0.5) : 1.0) * (s.pad2 > 0.5f ? std::pow(10.0, -0.5) : 1.0);
    const double c = std::exp((s.volume * 64.0 - 32.0) * dB);
    const double e = std::exp((s.gain * 32.0 - 8.0) * dB);
    const double a = s.gain * 0.55;
    const double wSat = a * e, wClean = (1.0 - a) * e;
    s.bias = -s.bias;
    double satL = s.sat[0], satR = s.sat[1];
    double xl = s.x1[0], xr = s.x1[1], yl = s.y1[0], yr = s.y1[1];
    for (int i = 0; i < frames; ++i) {
        const double l = inL[i] * h, r = inR[i] * h;
        const double ml = satL * wSat + l * wClean;
        const double mr = satR * wSat + r * wClean;
        satL = std::erf(l + s.bias);
        satR = std::erf(r + s.bias);
        const double ol = s.b0 * ml + s.b1 * xl - s.a1 * yl;
        const double orr = s.b0 * mr + s.b1 * xr - s.a1 * yr;
        xl = ml;
        xr = mr;
        yl = ol;
        yr = orr;
        outL[i] = static_cast<T>(ol * c);
        outR[i] = static_cast<T>(orr * c);
    }
    s.sat[0] = satL;
    s.sat[1] = satR;
    s.x1[0] = xl;
    s.x1[1] = xr;
    s.y1[0] = yl;
    s.y1[1] = yr;
}

intptr_t quietHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

template <typename T>
void pluginRun(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    BrackenlumeOpamp fx(quietHost);
    AEffect* e = fx.getAeffect();
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    Buffers<T> b(frames);
    T* in[2] = {b.inL.data(), b.inR.data()};
    T* out[2] = {b.outL.data(), b.outR.data()};
    for (auto _ : state) {
        if constexpr (sizeof(T) == sizeof(float)) {
            e->processReplacing(e, in, out, frames);
        } else {
            e->processDoubleReplacing(e, in, out, frames);
        }
        benchmark::DoNotOptimize(out[0][frames - 1]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

template <typename T>
void bareRun(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    BareState s(48000.0);
    Buffers<T> b(frames);
    for (auto _ : state) {
        bareBlock<T>(s, b.inL.data(), b.inR.data(), b.outL.data(), b.outR.data(), frames);
        benchmark::DoNotOptimize(b.outL[frames - 1]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

void PluginFloat(benchmark::State& s) {
    pluginRun<float>(s);
}
void PluginDouble(benchmark::State& s) {
    pluginRun<double>(s);
}
void BareFloat(benchmark::State& s) {
    bareRun<float>(s);
}
void BareDouble(benchmark::State& s) {
    bareRun<double>(s);
}

BENCHMARK(PluginFloat)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(BareFloat)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(PluginDouble)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(BareDouble)->Arg(32)->Arg(512)->Arg(4096);

// Prints the usual table and keeps the best ns per frame of every
// benchmark for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            const auto items = run.counters.find("items_per_second");
            if (items == run.counters.end() || items->second.value <= 0.0) continue;
            // With repetitions the fastest run counts: on a shared machine
            // the others mostly measure the neighbours.
            const double ns = 1e9 / items->second.value;
            const std::string name = run.run_name.str();
            const auto known = nsPerFrame.find(name);
            if (known == nsPerFrame.end() || ns < known->second) nsPerFrame[name] = ns;
        }
    }
    std::map<std::string, double> nsPerFrame;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-8s %6s %14s %14s %8s\n", "type", "block", "plug-in ns/fr", "bare ns/fr",
                "ratio");
    for (const char* type : {"Float", "Double"}) {
        for (int block : {32, 512, 4096}) {
            const std::string suffix = std::string(type) + "/" + std::to_string(block);
            const auto p = reporter.nsPerFrame.find("Plugin" + suffix);
            const auto b = reporter.nsPerFrame.find("Bare" + suffix);
            if (p == reporter.nsPerFrame.end() || b == reporter.nsPerFrame.end()) continue;
            std::printf("%-8s %6d %14.3f %14.3f %8.3f\n", type, block, p->second, b->second,
                        p->second / b->second);
        }
    }
    return 0;
}
