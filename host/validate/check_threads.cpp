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
    AudioThread(host::PluginHost& h, uint64_t seed, double amplitude)
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
    void run(uint64_t seed, double amplitude) {
        std::mt19937_64 rng(seed);
        std::uniform_real_distribution<double> sample(-amplitude, amplitude);
        std::vector<float> f[4];
        std::vector<double> d[4];
        for (auto& v : f)
            v.resize(1024);
        for (auto& v : d)
            v.resize(1024);
        while (!stop_.load(std::memory_order_relaxed)) {
            const int32_t frames = 1 + static_cast<int32_t>(rng() % 1024);
            const bool dbl = rng() % 2 == 0;
            double blockPeak = 0.0;
            long bad = 0;
            if (dbl) {
                for (int32_t i = 0; i < frames; ++i)
                    d[0][i] = sample(rng), d[1][i] = sample(rng);
                double* in[2] = {d[0].data(), d[1].data()};
                double* out[2] = {d[2].data(), d[3].data()};
                host_.processDoubleReplacing(in, out, frames);
                for (int32_t i = 0; i < frames; ++i) {
                    for (int c = 2; c < 4; ++c) {
                        if (!std::isfinite(d[c][i]))
                            ++bad;
                        else
                            blockPeak = std::max(blockPeak, std::fabs(d[c][i]));
                    }
                }
            } else {
                for (int32_t i = 0; i < frames; ++i) {
                    f[0][i] = static_cast<float>(sample(rng));
                    f[1][i] = static_cast<float>(sample(rng));
                }
                float* in[2] = {f[0].data(), f[1].data()};
                float* out[2] = {f[2].data(), f[3].data()};
                host_.processReplacing(in, out, frames);
                for (int32_t i = 0; i < frames; ++i) {
                    for (int c = 2; c < 4; ++c) {
                        if (!std::isfinite(f[c][i]))
                            ++bad;
                        else
                            blockPeak =
                                std::max(blockPeak, static_cast<double>(std::fabs(f[c][i])));
                    }
                }
            }
            nonFinite_.fetch_add(bad);
            if (blockPeak > peak_.load()) peak_.store(blockPeak);
            blocks_.fetch_add(1);
        }
    }

    host::PluginHost& host_;
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
            auto h = ctx.started(48000.0f, 1024);
            const int32_t n = h->numParams();
            std::atomic<bool> stop{false};
            std::atomic<long> sets{0};
            auto setter = [&](uint64_t s) {
                std::mt19937_64 rng(s);
                const float odd[] = {-1.0f, 2.0f, std::numeric_limits<float>::quiet_NaN(),
                                     std::numeric_limits<float>::infinity()};
                while (!stop.load(std::memory_order_relaxed)) {
                    const int32_t index =
                        n > 0 ? static_cast<int32_t>(rng() % static_cast<uint64_t>(n)) : 0;
                    const float v = rng() % 8 == 0 ? odd[rng() % 4]
                                                   : static_cast<float>(rng() % 1000001) / 1e6f;
                    h->setParameter(index, v);
                    (void)h->getParameter(index);
                    sets.fetch_add(1, std::memory_order_relaxed);
                }
            };
            AudioThread audio(*h, seed, 1.0);
            std::thread a(setter, seed + 1), b(setter, seed + 2);
            // The user-interface thread meanwhile saves and restores the state.
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            long chunks = 0;
            while (std::chrono::steady_clock::now() < end) {
                const std::vector<uint8_t> saved = h->getChunk();
                if (!saved.empty()) h->setChunk(saved);
                ++chunks;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            stop.store(true);
            a.join();
            b.join();
            audio.stop();
            for (int32_t i = 0; i < n; ++i) {
                const float v = h->getParameter(i);
                if (!(v >= 0.0f && v <= 1.0f))
                    return format("parameter %d ends at %g", i, static_cast<double>(v));
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
        if (!probeInstance || (probeInstance->effect()->flags & effFlagsHasEditor) == 0) {
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
            auto h = ctx.started(48000.0f, 1024);
            setAll(*h, std::vector<float>(64, 1.0f));
            const unsigned long parent = probe->makeWindow(400, 500);
            AudioThread audio(*h, seed, 1.0);
            const auto start = std::chrono::steady_clock::now();
            int done = 0;
            for (int i = 0; i < cycles; ++i, ++done) {
                if (i >= 3 &&
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                            .count() > Context::kSlowLoopBudget) {
                    break;
                }
                if (h->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(parent)) == 0) {
                    return format("effEditOpen failed in cycle %d", i);
                }
                for (int k = 0; k < 3; ++k) {
                    h->dispatch(effEditIdle);
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                h->dispatch(effEditClose);
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

void checkThreads(Context& ctx) {
    parametersWhileProcessing(ctx);
    editorWhileProcessing(ctx);
}

}  // namespace kv::validate
