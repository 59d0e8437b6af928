// Threads: hosts process audio on one thread, call the dispatcher and the
// editor on another, and may set parameters from a third (automation,
// session restore, control surfaces). Nothing here may crash, produce
// non-finite audio or leave a parameter outside [0, 1]. The suite also runs
// this group under the thread sanitizer, which reports any data race.
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <thread>

#include "host/validate/isolation.h"
#include "host/validate/signal.h"
#include "host/validate/validator.h"
#include "host/validate/x11_probe.h"

namespace kv::validate {

namespace {

// The host's audio thread: blocks of varying size in both precisions until
// told to stop. Counts blocks and non-finite samples.
class AudioThread {
  public:
    AudioThread(host::PluginInstance& h, uint64_t seed, double amplitude)
        : host_(h), thread_([this, seed, amplitude] { run(seed, amplitude); }) {}
    ~AudioThread() { stop(); }

    void stop() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
    }
    long blocks() const { return blocks_.load(); }
    long nonFinite() const { return nonFinite_.load(); }
    double peak() const { return peak_.load(); }

  private:
    // Buffers for every input and output the plug-in declares.
    template <typename T>
    long runBlock(std::vector<std::vector<T>>& ins, std::vector<std::vector<T>>& outs,
                  int32_t frames, std::mt19937_64& rng,
                  std::uniform_real_distribution<double>& sample, double& blockPeak) {
        std::vector<T*> inPtr(ins.size() + 1, nullptr), outPtr(outs.size() + 1, nullptr);
        for (size_t c = 0; c < ins.size(); ++c) {
            for (int32_t i = 0; i < frames; ++i)
                ins[c][i] = static_cast<T>(sample(rng));
            inPtr[c] = ins[c].data();
        }
        for (size_t c = 0; c < outs.size(); ++c)
            outPtr[c] = outs[c].data();
        host_.process(inPtr.data(), outPtr.data(), static_cast<uint32_t>(frames));
        long bad = 0;
        for (const auto& c : outs) {
            for (int32_t i = 0; i < frames; ++i) {
                if (!std::isfinite(c[i]))
                    ++bad;
                else
                    blockPeak = std::max(blockPeak, static_cast<double>(std::fabs(c[i])));
            }
        }
        return bad;
    }

    void run(uint64_t seed, double amplitude) {
        std::mt19937_64 rng(seed);
        std::uniform_real_distribution<double> sample(-amplitude, amplitude);
        const size_t ins = static_cast<size_t>(std::max(host_.inputs(), 0));
        const size_t outs = static_cast<size_t>(std::max(host_.outputs(), 0));
        std::vector<std::vector<float>> fin(ins, std::vector<float>(1024)),
            fout(outs, std::vector<float>(1024));
        std::vector<std::vector<double>> din(ins, std::vector<double>(1024)),
            dout(outs, std::vector<double>(1024));
        const bool canDouble = host_.capabilities().doublePrecision;
        while (!stop_.load(std::memory_order_relaxed)) {
            const int32_t frames = 1 + static_cast<int32_t>(rng() % 1024);
            const bool dbl = rng() % 2 == 0 && canDouble;
            double blockPeak = 0.0;
            const long bad = dbl ? runBlock(din, dout, frames, rng, sample, blockPeak)
                                 : runBlock(fin, fout, frames, rng, sample, blockPeak);
            nonFinite_.fetch_add(bad);
            if (blockPeak > peak_.load()) peak_.store(blockPeak);
            blocks_.fetch_add(1);
        }
    }

    host::PluginInstance& host_;
    std::atomic<bool> stop_{false};
    std::atomic<long> blocks_{0};
    std::atomic<long> nonFinite_{0};
    std::atomic<double> peak_{0.0};
    std::thread thread_;
};

void parametersWhileProcessing(Context& ctx) {
    const int ms = ctx.scaled(2000, 200);
    const uint64_t seed = ctx.rng()();
    const ChildOutcome outcome = runInChild(
        [&]() -> std::string {
            auto h = ctx.started(48000.0, 1024);
            const auto n = static_cast<int32_t>(h->parameterCount());
            // A format whose values belong to the main thread (CLAP) has
            // them handed to the audio thread; only reads stay on the main
            // thread there.
            const bool readAnywhere = h->capabilities().valuesFromAnyThread;
            std::atomic<bool> stop{false};
            std::atomic<long> sets{0};
            auto setter = [&](uint64_t s) {
                std::mt19937_64 rng(s);
                // Values a host sends: [0, 1], its ends included. Values out
                // of range are the hostile tier's business (state.*).
                while (!stop.load(std::memory_order_relaxed)) {
                    const int32_t index =
                        n > 0 ? static_cast<int32_t>(rng() % static_cast<uint64_t>(n)) : 0;
                    const uint64_t pick = rng() % 16;
                    const float v = pick == 0   ? 0.0f
                                    : pick == 1 ? 1.0f
                                                : static_cast<float>(rng() % 1000001) / 1e6f;
                    if (n > 0) {
                        const auto i = static_cast<uint32_t>(index);
                        h->setValue(i, h->fromNormalised(i, static_cast<double>(v)));
                        if (readAnywhere) (void)h->value(i);
                    }
                    sets.fetch_add(1, std::memory_order_relaxed);
                }
            };
            AudioThread audio(*h, seed, 1.0);
            std::thread a(setter, seed + 1), b(setter, seed + 2);
            // The user-interface thread meanwhile saves and restores the state.
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            long chunks = 0;
            while (std::chrono::steady_clock::now() < end) {
                if (const auto saved = h->saveState()) h->loadState(*saved);
                ++chunks;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            stop.store(true);
            a.join();
            b.join();
            audio.stop();
            for (uint32_t i = 0; i < h->parameterCount(); ++i) {
                const double v = h->value(i);
                const host::ParameterInfo& p = h->parameters()[i];
                if (!p.readOnly && !(v >= p.min && v <= p.max))
                    return format("parameter %u ends at %g", i, v);
            }
            if (audio.nonFinite() > 0) return format("%ld non-finite samples", audio.nonFinite());
            if (audio.blocks() == 0) return "the audio thread processed no block";
            return passedWith(format("%d ms: %ld blocks, %ld parameter sets, %ld chunk round trips",
                                     ms, audio.blocks(), sets.load(), chunks));
        },
        120);
    ctx.report().check(outcome.ok, "threads.parameters-while-processing", outcome.message);
}

// The editor opened, idled and closed on the user-interface thread while
// the audio thread drives the output over full scale (so the peak meter is
// written all the time) — closing must not leave the audio thread writing
// into a meter that is gone.
void editorWhileProcessing(Context& ctx) {
    {
        std::string error;
        auto probeInstance = ctx.load(error);
        if (!probeInstance || !probeInstance->capabilities().editor) {
            ctx.report().skip("threads.editor-while-processing", "skipped (no editor)");
            return;
        }
    }
    std::string why;
    if (!XProbe::open(why)) {
        ctx.report().skip("threads.editor-while-processing", why);
        return;
    }
    const int cycles = ctx.scaled(60, 6);
    const uint64_t seed = ctx.rng()();
    const ChildOutcome outcome = runInChild(
        [&]() -> std::string {
            std::string reason;
            auto probe = XProbe::open(reason);
            if (!probe) return reason;
            auto h = ctx.started(48000.0, 1024);
            setAll(*h, std::vector<float>(64, 1.0f));
            const unsigned long parent = probe->makeWindow(400, 500);
            AudioThread audio(*h, seed, 1.0);
            const auto start = std::chrono::steady_clock::now();
            int done = 0;
            for (int i = 0; i < cycles; ++i, ++done) {
                if (i >= 3 &&
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                            .count() > ctx.slowLoopBudget()) {
                    break;
                }
                if (!h->openEditor(parent)) return format("the editor did not open in cycle %d", i);
                for (int k = 0; k < 3; ++k) {
                    h->idle();
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                h->closeEditor();
            }
            audio.stop();
            probe->destroyWindow(parent);
            if (audio.nonFinite() > 0) return format("%ld non-finite samples", audio.nonFinite());
            return passedWith(
                format("%d open/idle/close cycles during %ld blocks, output peak %.1f dBFS", done,
                       audio.blocks(), toDb(audio.peak())));
        },
        120);
    ctx.report().check(outcome.ok, "threads.editor-while-processing", outcome.message);
}

}  // namespace

std::vector<Check> threadChecks() {
    return {
        {"threads.parameters-while-processing", Tier::EveryHost,
         "automation or a session save during playback crashes or corrupts the audio",
         parametersWhileProcessing},
        {"threads.editor-while-processing", Tier::EveryHost,
         "opening or closing the editor during playback crashes the host", editorWhileProcessing},
    };
}

}  // namespace kv::validate
