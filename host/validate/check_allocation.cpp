// Allocation failures: memory running out while the plug-in builds an
// instance (VSTPluginMain; CLAP's create_plugin and init) or opens its
// editor (effEditOpen; gui.create and set_parent). Each
// allocation the call makes is made to fail once, each in a child process
// of its own; a host must then get either nothing (a null instance, an open
// that answers 0) or something whole that keeps working. The failures come
// from kv23's own operator new (failing_new.h).
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "host/channel_buffers.h"
#include "host/validate/allocation_trials.h"
#include "host/validate/failing_new.h"
#include "host/validate/isolation.h"
#include "host/validate/validator.h"
#include "host/validate/x11_probe.h"

namespace kv::validate {

namespace {

constexpr int32_t kFrames = 256;

// The host side: a version and nothing else, and no allocation of ours
// while the plug-in's allocations are counted.
intptr_t quietHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

intptr_t call(AEffect* e, int32_t opcode, int32_t index = 0, intptr_t value = 0,
              void* ptr = nullptr, float opt = 0.0f) {
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

using Entry = AEffect* (*)(audioMasterCallback);

Entry entryPoint(const std::string& path, std::string& why) {
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        why = format("cannot load the plug-in: %s", dlerror());
        return nullptr;
    }
    auto entry = reinterpret_cast<Entry>(dlsym(library, "VSTPluginMain"));
    if (!entry) entry = reinterpret_cast<Entry>(dlsym(library, "main"));
    if (!entry) why = "the plug-in has no VSTPluginMain";
    return entry;
}

// What a host does with an instance it got: start it, move every parameter,
// process a block, read the state; empty when all went well.
std::string stillWorks(AEffect* e) {
    if (e->magic != kEffectMagic) return "the instance's magic is wrong";
    call(e, effOpen);
    call(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    call(e, effSetBlockSize, 0, kFrames);
    call(e, effMainsChanged, 0, 1);
    for (int32_t i = 0; i < e->numParams; ++i) {
        e->setParameter(e, i, 0.75f);
        const float v = e->getParameter(e, i);
        if (!std::isfinite(v)) return format("parameter %d reads %g", i, static_cast<double>(v));
    }
    // One buffer for each declared input and output, whatever their number.
    host::ChannelBuffers<float> buffers(e->numInputs, e->numOutputs, kFrames);
    for (size_t c = 0; c < buffers.inputs(); ++c) {
        for (int32_t n = 0; n < kFrames; ++n)
            buffers.in(c)[static_cast<size_t>(n)] = static_cast<float>(std::sin(0.05 * n));
    }
    if (e->flags & effFlagsCanReplacing) {
        e->processReplacing(e, buffers.inPointers(), buffers.outPointers(), kFrames);
        for (size_t c = 0; c < buffers.outputs(); ++c) {
            for (int32_t n = 0; n < kFrames; ++n) {
                if (!std::isfinite(buffers.out(c)[static_cast<size_t>(n)]))
                    return format("output %zu, sample %d is not finite", c, n);
            }
        }
    }
    void* chunk = nullptr;
    call(e, effGetChunk, 0, 0, &chunk);
    return {};
}

// The editor opcodes of an instance built while an allocation failed:
// without the editor flag they answer 0. With it, nothing is asked here:
// many editors know their size only after effEditOpen.
std::string editorConsistent(AEffect* e) {
    if (e->flags & effFlagsHasEditor) return {};
    ERect* rect = nullptr;
    if (call(e, effEditGetRect, 0, 0, &rect) != 0)
        return "no editor flag but effEditGetRect answers 1";
    return {};
}

// One child: VSTPluginMain with allocation `failAt` failing (0: none fails).
// Passes with "ALLOCATIONS NULL NO-EDITOR" (counts, 0 or 1) as its figure.
std::string constructionTrial(const std::string& path, long failAt) {
    std::string why;
    const Entry entry = entryPoint(path, why);
    if (!entry) return why;
    failing_new::arm(failAt);
    AEffect* e = entry(&quietHost);
    const long made = failing_new::disarm();
    const bool hit = failing_new::injected();
    if (!e) {
        if (!hit) return "no instance although no allocation failed";
        return passedWith(format("%ld 1 0", made));
    }
    std::string wrong = editorConsistent(e);
    if (wrong.empty()) wrong = stillWorks(e);
    if (!wrong.empty()) return wrong;
    const bool noEditor = !(e->flags & effFlagsHasEditor);
    call(e, effClose);
    return passedWith(format("%ld 0 %d", made, noEditor ? 1 : 0));
}

// One child: effEditOpen on a started instance with allocation `failAt`
// failing. A failed open answers 0, leaves no window behind and keeps the
// instance working, and the next open succeeds. Passes with "ALLOCATIONS
// REFUSED OPENED" (counts, 0 or 1) as its figure.
std::string editorOpenTrial(const std::string& path, long failAt) {
    std::string why;
    const Entry entry = entryPoint(path, why);
    if (!entry) return why;
    // A loaded server now and then refuses one of the many short-lived
    // connections these trials make; that is no fault of the plug-in.
    std::unique_ptr<XProbe> probe;
    for (int attempt = 0; attempt < 10 && !probe; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        probe = XProbe::open(why);
    }
    if (!probe) return why;
    AEffect* e = entry(&quietHost);
    if (!e) return "no instance";
    if (!(e->flags & effFlagsHasEditor)) return passedWith("0 0 0");
    const unsigned long parent = probe->makeWindow(640, 640);
    void* window = reinterpret_cast<void*>(static_cast<uintptr_t>(parent));
    call(e, effOpen);
    call(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    call(e, effSetBlockSize, 0, kFrames);
    call(e, effMainsChanged, 0, 1);
    failing_new::arm(failAt);
    const intptr_t opened = call(e, effEditOpen, 0, 0, window);
    const long made = failing_new::disarm();
    const bool hit = failing_new::injected();
    if (!hit) {
        if (opened == 0) return "effEditOpen failed although no allocation failed";
        call(e, effEditClose);
        call(e, effClose);
        return passedWith(format("%ld 0 1", made));
    }
    if (opened != 0) {
        // The editor coped with the failure: it must be whole.
        call(e, effEditIdle);
        call(e, effEditClose);
        call(e, effClose);
        return passedWith(format("%ld 0 1", made));
    }
    call(e, effEditIdle);
    if (probe->waitForChildren(parent, 0, 2000) != 0) {
        return "a failed effEditOpen left a window in the host window";
    }
    if (std::string wrong = stillWorks(e); !wrong.empty()) return "after a failed open: " + wrong;
    if (call(e, effEditOpen, 0, 0, window) == 0) return "the open after a failed one fails too";
    call(e, effEditIdle);
    if (probe->waitForChildren(parent, 1, 2000) < 1) return "the later open shows no window";
    call(e, effEditClose);
    call(e, effClose);
    return passedWith(format("%ld 1 0", made));
}

// How many allocations a clean run of `trial` makes (in a child, so the
// parent's heap and state stay as they were); -1 and `why` on failure.
long cleanCount(const std::function<std::string(long)>& trial, std::string& why) {
    const ChildOutcome clean = runInChild([&] { return trial(0); });
    if (!clean.ok) {
        why = clean.message;
        return -1;
    }
    return std::strtol(clean.message.c_str(), nullptr, 10);
}

// Every allocation in turn (every `stride`-th one below full strictness).
// `outcomes` names the two counts a trial passes back after its own count.
void failEach(Context& ctx, const char* name, const char* what, const char* outcomes,
              const std::function<std::string(long)>& trial) {
    std::string why;
    const long count = cleanCount(trial, why);
    if (count < 0) {
        ctx.report().fail(name, "a run without failures failed: " + why);
        return;
    }
    if (count == 0) {
        // No editor, or a plug-in with a C++ library of its own.
        ctx.report().skip(name, format("%s makes no allocation that kv23 can see", what));
        return;
    }
    const long stride = std::max<long>(1, count / ctx.scaled(static_cast<int>(count), 10));
    const auto start = std::chrono::steady_clock::now();
    long tried = 0, first = 0, second = 0;
    for (long n = 1; n <= count; n += stride) {
        const ChildOutcome outcome = runInChild([&] { return trial(n); });
        if (!outcome.ok) {
            ctx.report().fail(name, format("allocation %ld of %ld failing: %s", n, count,
                                           outcome.message.c_str()));
            return;
        }
        long made = 0;
        int a = 0, b = 0;
        std::sscanf(outcome.message.c_str(), "%ld %d %d", &made, &a, &b);
        first += a;
        second += b;
        ++tried;
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >
            ctx.slowLoopBudget() * 3) {
            break;
        }
    }
    const std::string counts = format(outcomes, first, second);
    ctx.report().pass(name, format("%s: %ld allocations, %ld made to fail one at a time: %s", what,
                                   count, tried, counts.c_str()));
}

void constructionFailures(Context& ctx) {
    ctx.pinLibrary();  // the library's own start-up is not part of the count
    const std::string path = ctx.options().pluginPath;
    if (ctx.options().format == host::PluginFormat::Clap) {
        failEach(ctx, "allocation.construction", "create_plugin and init",
                 "%ld null, %ld refused in init",
                 [&](long n) { return clapConstructionTrial(path, ctx.options().pluginId, n); });
        return;
    }
    if (ctx.options().format == host::PluginFormat::Vst3) {
        failEach(ctx, "allocation.construction", "create_instance and initialize",
                 "%ld null, %ld refused in initialize",
                 [&](long n) { return vst3ConstructionTrial(path, n); });
        return;
    }
    failEach(ctx, "allocation.construction", "VSTPluginMain", "%ld null, %ld without editor",
             [&](long n) { return constructionTrial(path, n); });
}

void editorOpenFailures(Context& ctx) {
    ctx.pinLibrary();
    const std::string path = ctx.options().pluginPath;
    // The editor needs a display; without one there is nothing to open.
    std::string why;
    if (!XProbe::open(why)) {
        ctx.report().skip("allocation.editor-open", why);
        return;
    }
    if (ctx.options().format == host::PluginFormat::Clap) {
        failEach(ctx, "allocation.editor-open", "gui.create and set_parent",
                 "%ld refused, %ld opened anyway",
                 [&](long n) { return clapEditorOpenTrial(path, ctx.options().pluginId, n); });
        return;
    }
    if (ctx.options().format == host::PluginFormat::Vst3) {
        failEach(ctx, "allocation.editor-open", "create_view and attached",
                 "%ld refused, %ld opened anyway",
                 [&](long n) { return vst3EditorOpenTrial(path, n); });
        return;
    }
    failEach(ctx, "allocation.editor-open", "effEditOpen", "%ld answered 0, %ld opened anyway",
             [&](long n) { return editorOpenTrial(path, n); });
}

}  // namespace

std::vector<Check> allocationChecks() {
    return {
        {"allocation.construction", Tier::Demanding,
         "a host short of memory crashes while it creates an instance", constructionFailures},
        {"allocation.editor-open", Tier::Demanding,
         "a host short of memory crashes when the user opens the editor, or the instance "
         "stops working",
         editorOpenFailures},
    };
}

}  // namespace kv::validate
