// Loading and identity: what a host's scanner and its session loading do
// with a plug-in file before any audio flows.
#include <dlfcn.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <set>
#include <thread>

#include "host/validate/isolation.h"
#include "host/validate/signal.h"
#include "host/validate/validator.h"

namespace kv::validate {

namespace {

// Whole load/unload cycles, as a scanner does once per file: the library's
// constructors and destructors run every time.
void unloadCycles(Context& ctx) {
    const int cycles = ctx.scaled(20, 2);
    const ChildOutcome outcome = runInChild([&]() -> std::string {
        for (int i = 0; i < cycles; ++i) {
            std::string error;
            auto instance = ctx.load(error);
            if (!instance) return format("cycle %d: %s", i, error.c_str());
            instance->start(48000.0, 256);
            Stereo in = square(256, 0.5);
            runThrough(*instance, in, RunOptions{});
            instance.reset();  // the instance closed, then the library unloaded
        }
        return {};
    });
    ctx.report().check(
        outcome.ok, "load.load-unload-cycles",
        outcome.ok ? format("%d cycles of loading, an instance, closing and unloading", cycles)
                   : outcome.message);
}

size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks;
}

// The heap once it has stopped changing: a plug-in may finish one-time,
// per-process work (fonts, caches) on a thread of its own after its first
// instance, which is no growth per instance. Waits at most two seconds.
size_t settledHeap() {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(2);
    size_t last = heapInUse();
    auto stableSince = steady_clock::now();
    while (steady_clock::now() < deadline && steady_clock::now() - stableSince < milliseconds(50)) {
        std::this_thread::sleep_for(milliseconds(5));
        const size_t now = heapInUse();
        if (now != last) {
            last = now;
            stableSince = steady_clock::now();
        }
    }
    return last;
}

void createClose(Context& ctx) {
    ctx.pinLibrary();
    const int count = ctx.scaled(100, 10);
    // One round first so that lazily made process-wide things (locale,
    // loader tables, whatever the plug-in sets up once on a thread) are not
    // counted as growth.
    {
        std::string error;
        auto warm = ctx.load(error);
    }
    // Two batches, each measured from a settled heap: memory lost with
    // every instance shows in both, one-time work that a busy machine let
    // run late into the first batch only in that one.
    int made = 0;
    std::string error;
    long growth = 0;
    for (int batch = 0; batch < 2 && made == batch * count; ++batch) {
        const size_t before = settledHeap();
        for (int i = 0; i < count; ++i) {
            auto instance = ctx.load(error);
            if (!instance) break;
            instance.reset();
            ++made;
        }
        const long grew = static_cast<long>(heapInUse()) - static_cast<long>(before);
        growth = batch == 0 ? grew : std::min(growth, grew);
    }
    // A few hundred bytes of allocator slack are normal; a leaked instance
    // costs more than a kilobyte each time.
    const bool ok = made == 2 * count && growth < 64L * count + 4096;
    ctx.report().check(
        ok, "load.create-close",
        made < 2 * count
            ? format("instance %d of %d failed: %s", made % count + 1, count, error.c_str())
            : format("%d instances twice, heap %+ld bytes", count, growth));
}

// What a scanner lists: a name, channels, parameters a host can show
// (named, a range, a default inside it, ids of their own).
void identity(Context& ctx) {
    std::string error;
    auto instance = ctx.load(error);
    if (!instance) {
        ctx.report().fail("load.identity", error);
        return;
    }
    const host::PluginIdentity id = instance->identity();
    std::string problems;
    auto need = [&problems](bool ok, const std::string& what) {
        if (!ok) problems += problems.empty() ? what : ", " + what;
    };
    need(!id.name.empty(), "no name");
    need(!id.id.empty(), "no id");
    // Instruments have no inputs and analysers may have no outputs.
    need(instance->inputs() >= 0 && instance->inputs() <= 64, "input count");
    need(instance->outputs() >= 0 && instance->outputs() <= 64, "output count");
    need(instance->inputs() + instance->outputs() >= 1, "neither inputs nor outputs");
    need(instance->parameterCount() <= 10000, "parameter count");
    std::set<uint32_t> ids;
    for (const host::ParameterInfo& p : instance->parameters()) {
        if (!problems.empty()) break;
        need(!p.name.empty(), format("parameter %u has no name", p.id));
        need(std::isfinite(p.min) && std::isfinite(p.max) && p.min <= p.max,
             format("parameter %u's range %g to %g", p.id, p.min, p.max));
        need(p.defaultValue >= p.min && p.defaultValue <= p.max,
             format("parameter %u's default %g outside its range", p.id, p.defaultValue));
        need(ids.insert(p.id).second, format("parameter id %u twice", p.id));
    }
    ctx.report().check(problems.empty(), "load.identity",
                       problems.empty()
                           ? format("%s \"%s\" by \"%s\" %s, %d in, %d out, %u parameters",
                                    host::formatName(id.format), id.name.c_str(), id.vendor.c_str(),
                                    id.version.c_str(), instance->inputs(), instance->outputs(),
                                    instance->parameterCount())
                           : "wrong: " + problems);
}

// Two instances of one library must not share anything a user can notice:
// parameter values, saved state, or the running audio state.
void separateState(Context& ctx) {
    auto a = ctx.started(48000.0, 512);
    auto b = ctx.started(48000.0, 512);
    const auto n = static_cast<int32_t>(a->parameterCount());
    const std::vector<float> settingsA = randomSettings(ctx, n);
    const std::vector<float> settingsB = randomSettings(ctx, n);

    const std::vector<double> untouchedB = readAll(*b);
    const auto untouchedChunkB = b->saveState();
    setAll(*a, settingsA);
    std::string problems;
    if (readAll(*b) != untouchedB) problems += "parameters of A reached B; ";
    if (b->saveState() != untouchedChunkB) problems += "A's settings show in B's chunk; ";
    const std::vector<double> storedA = readAll(*a);
    const auto chunkA = a->saveState();
    setAll(*b, settingsB);
    if (readAll(*a) != storedA) problems += "parameters of B reached A; ";
    if (a->saveState() != chunkA) problems += "B's settings show in A's chunk; ";

    // Interleaved blocks through A and B against each alone in a fresh
    // instance with the same settings: any shared audio state shows. Only
    // a plug-in that renders the same twice when alone can be judged so:
    // dither and random modulation differ between any two renders.
    const bool comparable =
        deterministicAlone(ctx, settingsA) && deterministicAlone(ctx, settingsB);
    const size_t frames = static_cast<size_t>(ctx.scaled(48000, 4800));
    const Stereo inA = noise(ctx, frames, 0.9);
    const Stereo inB = square(frames, 0.7);
    Stereo outA(frames), outB(frames);
    for (size_t at = 0; at < frames; at += 512) {
        const size_t len = std::min<size_t>(512, frames - at);
        Stereo blockA(len), blockB(len);
        std::copy_n(inA.left.begin() + at, len, blockA.left.begin());
        std::copy_n(inA.right.begin() + at, len, blockA.right.begin());
        std::copy_n(inB.left.begin() + at, len, blockB.left.begin());
        std::copy_n(inB.right.begin() + at, len, blockB.right.begin());
        const Stereo ra = runThrough(*a, blockA, RunOptions{});
        const Stereo rb = runThrough(*b, blockB, RunOptions{});
        std::copy(ra.left.begin(), ra.left.end(), outA.left.begin() + at);
        std::copy(ra.right.begin(), ra.right.end(), outA.right.begin() + at);
        std::copy(rb.left.begin(), rb.left.end(), outB.left.begin() + at);
        std::copy(rb.right.begin(), rb.right.end(), outB.right.begin() + at);
    }
    auto aloneA = ctx.started(48000.0, 512);
    auto aloneB = ctx.started(48000.0, 512);
    setAll(*aloneA, settingsA);
    setAll(*aloneB, settingsB);
    const Stereo refA = runThrough(*aloneA, inA, RunOptions{});
    const Stereo refB = runThrough(*aloneB, inB, RunOptions{});
    if (comparable && !bitIdentical(outA, refA)) {
        problems +=
            format("A's audio differs by %.3g when B runs beside it; ", maxDifference(outA, refA));
    }
    if (comparable && !bitIdentical(outB, refB)) {
        problems +=
            format("B's audio differs by %.3g when A runs beside it; ", maxDifference(outB, refB));
    }
    if (problems.size() >= 2) problems.resize(problems.size() - 2);  // the last "; "
    ctx.report().check(problems.empty(), "load.separate-instances",
                       problems.empty()
                           ? (comparable ? format("parameters, chunks and %zu frames of audio "
                                                  "kept apart",
                                                  frames)
                                         : "parameters and chunks kept apart; the audio differs "
                                           "between two renders even alone, not compared")
                           : problems);
}

}  // namespace

std::vector<Check> loadChecks() {
    return {
        {"load.load-unload-cycles", Tier::EveryHost,
         "a scanner that loads and unloads the file crashes, or the next load fails", unloadCycles},
        {"load.create-close", Tier::EveryHost,
         "memory grows with every instance a session creates and closes", createClose},
        {"load.identity", Tier::EveryHost, "the scanner rejects or misdescribes the plug-in",
         identity},
        {"load.separate-instances", Tier::EveryHost,
         "two instances on two tracks change each other's settings or sound", separateState},
    };
}

}  // namespace kv::validate
