// VST 2's own editor rules: keys and knob modes through the dispatcher,
// effClose with the editor still open, the library unloaded under an open
// editor by a host that knows only the AEffect record.
#include <dlfcn.h>

#include <chrono>
#include <thread>

#include "host/validate/isolation.h"
#include "host/validate/validator.h"
#include "host/validate/x11_probe.h"
#include "host/vst2_instance.h"

namespace kv::validate {

namespace {

void idle(host::Vst2Host& h, int times) {
    for (int i = 0; i < times; ++i) {
        h.dispatch(effEditIdle);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string keysAndKnob(Context& ctx, XProbe& probe, host::Vst2Host& h) {
    const int32_t chars[] = {0, 'a', 'Z', ' ', '0', 0x7F, -1, 0x10FFFF};
    auto keys = [&](int count) -> std::string {
        for (int i = 0; i < count; ++i) {
            const int32_t character = chars[ctx.rng()() % 8];
            const intptr_t virt = static_cast<intptr_t>(ctx.rng()() % 256);
            const float modifier = static_cast<float>(ctx.rng()() % 16);
            for (int32_t opcode : {effEditKeyDown, effEditKeyUp}) {
                const intptr_t answer = h.dispatch(opcode, character, virt, nullptr, modifier);
                if (answer < -1 || answer > 1) {
                    return format("opcode %d answered %ld", opcode, static_cast<long>(answer));
                }
            }
        }
        return {};
    };
    // Keys and knob modes while closed must be ignored quietly.
    if (std::string p = keys(20); !p.empty()) return "closed editor: " + p;
    const unsigned long parent = probe.makeWindow(640, 640);
    if (h.dispatch(effEditOpen, 0, 0, windowPointer(parent)) == 0) return "effEditOpen failed";
    idle(h, 2);
    const int presses = ctx.scaled(300, 30);
    if (std::string p = keys(presses); !p.empty()) return p;
    for (intptr_t mode : {intptr_t{0}, intptr_t{1}, intptr_t{2}, intptr_t{-1}, intptr_t{1000}}) {
        const intptr_t answer = h.dispatch(effSetEditKnobMode, 0, mode);
        if (answer < 0 || answer > 1)
            return format("knob mode %ld answered %ld", static_cast<long>(mode),
                          static_cast<long>(answer));
        idle(h, 1);
    }
    h.dispatch(effEditClose);
    probe.destroyWindow(parent);
    return passedWith(format("%d key downs and ups, knob modes 0, 1, 2, -1, 1000", presses));
}

std::string closeWhileOpen(XProbe& probe, host::Vst2Host& h) {
    const unsigned long parent = probe.makeWindow(640, 640);
    const ServerCounts before = probe.counts();
    const int fdsBefore = openDescriptors();
    if (h.dispatch(effEditOpen, 0, 0, windowPointer(parent)) == 0) return "effEditOpen failed";
    idle(h, 3);
    h.close();  // effClose without effEditClose
    const int children = probe.waitForChildren(parent, 0, 1000);
    const ServerCounts after = probe.counts();
    const int fdsAfter = openDescriptors();
    probe.destroyWindow(parent);
    if (children != 0) return "the editor window outlives effClose";
    if (after.windows != before.windows || fdsAfter != fdsBefore) {
        return format("effClose with the editor open leaves windows %+ld, fds %+d",
                      after.windows - before.windows, fdsAfter - fdsBefore);
    }
    return passedWith("effClose closed the open editor and left nothing behind");
}

intptr_t plainHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

// A host that unloads the library with the editor still open (a crash
// recovery, a forced rescan): whatever the plug-in left running, a thread
// above all, must not run on in code that is gone. The instance is lost
// with the library; the host's window then goes, which sends events to the
// editor's connection.
std::string unloadWithEditorOpen(Context& ctx, XProbe& probe) {
    std::string path = ctx.options().pluginPath;
    if (path.find('/') == std::string::npos) path = "./" + path;  // not a library search
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return std::string("dlopen: ") + dlerror();
    using Entry = AEffect* (*)(audioMasterCallback);
    auto entry = reinterpret_cast<Entry>(dlsym(library, "VSTPluginMain"));
    if (entry == nullptr) entry = reinterpret_cast<Entry>(dlsym(library, "main"));
    AEffect* e = entry != nullptr ? entry(&plainHost) : nullptr;
    if (e == nullptr) return "no instance";
    e->dispatcher(e, effOpen, 0, 0, nullptr, 0.0f);
    const unsigned long parent = probe.makeWindow(640, 640);
    if (e->dispatcher(e, effEditOpen, 0, 0, windowPointer(parent), 0.0f) == 0)
        return "effEditOpen failed";
    for (int i = 0; i < 5; ++i) {
        e->dispatcher(e, effEditIdle, 0, 0, nullptr, 0.0f);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    dlclose(library);
    probe.destroyWindow(parent);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return passedWith(
        "unloaded with the editor open, then its parent window destroyed: nothing "
        "ran on in the unloaded code");
}

// In a process that holds no other instance, so that dlclose unloads.
void unloadWithEditorOpenCheck(Context& ctx) {
    const char* name = "vst2.unload-with-editor-open";
    if (!editorAvailable(ctx, name)) return;
    const ChildOutcome outcome = runInChild(
        [&]() -> std::string {
            std::string why;
            auto probe = XProbe::open(why);
            return probe ? unloadWithEditorOpen(ctx, *probe) : why;
        },
        60);
    ctx.report().check(outcome.ok, name, outcome.message);
}

// A check on the VST 2 host of an instance with an X probe, in a child.
Check vst2Editor(const char* name, Tier tier, const char* harm,
                 std::string (*body)(Context&, XProbe&, host::Vst2Host&)) {
    return Check{name, tier, harm, [name, body](Context& ctx) {
                     editorInChild(ctx, name, [&](XProbe& p, host::PluginInstance& instance) {
                         auto* vst2 = dynamic_cast<host::Vst2Instance*>(&instance);
                         if (vst2 == nullptr) return std::string("not a VST 2 plug-in");
                         return body(ctx, p, vst2->vst2());
                     });
                 }};
}

}  // namespace

std::vector<Check> vst2EditorChecks() {
    std::vector<Check> checks = {
        vst2Editor("vst2.keys-and-knob", Tier::Demanding,
                   "key presses forwarded by the host crash the editor or get odd answers",
                   keysAndKnob),
        vst2Editor("vst2.close-while-open", Tier::Hostile,
                   "a host that sends effClose with the editor still open leaves a window behind",
                   [](Context&, XProbe& p, host::Vst2Host& h) { return closeWhileOpen(p, h); }),
        {"vst2.unload-with-editor-open", Tier::Hostile,
         "a host that unloads the plug-in with its window open crashes a moment later",
         unloadWithEditorOpenCheck},
    };
    return checks;
}

}  // namespace kv::validate
