// Cost of the effect's processing per stereo frame, beside the same kernel
// called directly, without the plug-in's plumbing (no trampoline, no
// virtual call, no atomics, no parameter table). The ratio plug-in / kernel
// shows what the plumbing costs; it is printed after the benchmarks for
// each precision and block size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dsp/opamp_kernel.h"
#include "dsp/opamp_params.h"
#include "dsp/opamp_processor.h"
#include "vst2/brackenlume_opamp.h"

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

// The kernel alone, as the effect runs it for each block with the window
// closed: the controls derived from the default values, then one block.
struct KernelState {
    kv::opamp::State state;
    explicit KernelState(float fs) { kv::opamp::setHighPass(state, fs); }
};

template <typename T>
void kernelBlock(KernelState& s, const T* inL, const T* inR, T* outL, T* outR, int frames) {
    const kv::opamp::Controls k = kv::opamp::controlsFor(s.state, kv::opamp::kGainDefault, 0.0f,
                                                         0.0f, kv::opamp::kVolumeDefault);
    kv::opamp::runBlock<T, false>(s.state, k, false, inL, inR, outL, outR, frames);
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
void kernelRun(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    KernelState s(48000.0f);
    Buffers<T> b(frames);
    for (auto _ : state) {
        kernelBlock<T>(s, b.inL.data(), b.inR.data(), b.outL.data(), b.outR.data(), frames);
        benchmark::DoNotOptimize(b.outL[frames - 1]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

// The two qualities through the interface the formats call: Exact is the
// kernel above plus the history Clean keeps; Clean the oversampled drive.
template <typename T, kv::opamp::Quality Q>
void qualityRun(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    kv::opamp::OpampProcessor p;
    if (!p.prepare(48000.0, frames)) {
        state.SkipWithError("prepare failed");
        return;
    }
    const kv::opamp::Controls k = kv::opamp::controlsFor(p.state(), kv::opamp::kGainDefault, 0.0f,
                                                         0.0f, kv::opamp::kVolumeDefault);
    Buffers<T> b(frames);
    for (auto _ : state) {
        p.run<T, false>(k, Q, false, b.inL.data(), b.inR.data(), b.outL.data(), b.outR.data(),
                        frames);
        benchmark::DoNotOptimize(b.outL[frames - 1]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

void ExactFloat(benchmark::State& s) {
    qualityRun<float, kv::opamp::Quality::kExact>(s);
}
void CleanFloat(benchmark::State& s) {
    qualityRun<float, kv::opamp::Quality::kClean>(s);
}
void ExactDouble(benchmark::State& s) {
    qualityRun<double, kv::opamp::Quality::kExact>(s);
}
void CleanDouble(benchmark::State& s) {
    qualityRun<double, kv::opamp::Quality::kClean>(s);
}

void PluginFloat(benchmark::State& s) {
    pluginRun<float>(s);
}
void PluginDouble(benchmark::State& s) {
    pluginRun<double>(s);
}
void KernelFloat(benchmark::State& s) {
    kernelRun<float>(s);
}
void KernelDouble(benchmark::State& s) {
    kernelRun<double>(s);
}

BENCHMARK(PluginFloat)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(KernelFloat)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(PluginDouble)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(KernelDouble)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(ExactFloat)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(CleanFloat)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(ExactDouble)->Arg(32)->Arg(512)->Arg(4096);
BENCHMARK(CleanDouble)->Arg(32)->Arg(512)->Arg(4096);

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
    std::printf("\n%-8s %6s %14s %14s %8s\n", "type", "block", "plug-in ns/fr", "kernel ns/fr",
                "ratio");
    for (const char* type : {"Float", "Double"}) {
        for (int block : {32, 512, 4096}) {
            const std::string suffix = std::string(type) + "/" + std::to_string(block);
            const auto p = reporter.nsPerFrame.find("Plugin" + suffix);
            const auto b = reporter.nsPerFrame.find("Kernel" + suffix);
            if (p == reporter.nsPerFrame.end() || b == reporter.nsPerFrame.end()) continue;
            std::printf("%-8s %6d %14.3f %14.3f %8.3f\n", type, block, p->second, b->second,
                        p->second / b->second);
        }
    }
    // The qualities side by side; Clean's budget is four times Exact's.
    std::printf("\n%-8s %6s %14s %14s %14s %12s\n", "type", "block", "kernel ns/fr", "Exact ns/fr",
                "Clean ns/fr", "Clean/Exact");
    for (const char* type : {"Float", "Double"}) {
        for (int block : {32, 512, 4096}) {
            const std::string suffix = std::string(type) + "/" + std::to_string(block);
            const auto b = reporter.nsPerFrame.find("Kernel" + suffix);
            const auto e = reporter.nsPerFrame.find("Exact" + suffix);
            const auto c = reporter.nsPerFrame.find("Clean" + suffix);
            if (b == reporter.nsPerFrame.end() || e == reporter.nsPerFrame.end() ||
                c == reporter.nsPerFrame.end())
                continue;
            std::printf("%-8s %6d %14.3f %14.3f %14.3f %12.3f\n", type, block, b->second, e->second,
                        c->second, c->second / e->second);
        }
    }
    return 0;
}
