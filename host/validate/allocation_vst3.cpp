// The allocation trials for a VST3 plug-in (check_allocation.cpp runs them
// as it runs the other formats'): the factory's create_instance and the
// component's initialize, and the view's create_view and attached, with
// one allocation made to fail. The module is loaded and the host's objects
// made before the count starts; the host's run loop keeps room for the
// timers and handlers a view registers.
#include <dlfcn.h>
#include <travesty/audio_processor.h>
#include <travesty/component.h>
#include <travesty/factory.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "host/validate/allocation_trials.h"
#include "host/validate/failing_new.h"
#include "host/validate/isolation.h"
#include "host/validate/validator.h"
#include "host/validate/x11_probe.h"
#include "host/vst3_host.h"

namespace kv::validate {

namespace {

using host::vst3::queryOf;
using host::vst3::unrefOf;

constexpr int32_t kFrames = 256;

struct Silent final : host::vst3::HostEvents {
    void beginEdit(v3_param_id) override {}
    void performEdit(v3_param_id, double) override {}
    void endEdit(v3_param_id) override {}
    void restartComponent(int32_t) override {}
    bool resizeView(v3_plugin_view**, const v3_view_rect&) override { return false; }
    void note(const std::string&) override {}
};

v3_plugin_base* base(void* face) {
    return &(*static_cast<v3_component_cpp**>(face))->base;
}
v3_audio_processor* proc(v3_audio_processor** p) {
    return &(*reinterpret_cast<v3_audio_processor_cpp**>(p))->proc;
}

// What a host does with a component it got: set up, activate and process
// a block with a buffer for every bus; empty when all went well.
std::string stillWorks(v3_component** component) {
    auto** p = static_cast<v3_audio_processor**>(queryOf(component, v3_audio_processor_iid));
    if (!p) return "the component has no IAudioProcessor";
    std::vector<std::vector<float>> channels;
    std::vector<std::vector<float*>> pointers;
    std::vector<v3_audio_bus_buffers> buses[2];
    for (const int32_t dir : {V3_INPUT, V3_OUTPUT}) {
        const int32_t count = v3_cpp_obj(component)->get_bus_count(component, V3_AUDIO, dir);
        for (int32_t b = 0; b < count && b < 16; ++b) {
            v3_bus_info info{};
            v3_cpp_obj(component)->get_bus_info(component, V3_AUDIO, dir, b, &info);
            pointers.emplace_back();
            for (int32_t c = 0; c < info.channel_count && c < 64; ++c) {
                channels.emplace_back(kFrames, dir == V3_INPUT ? 0.5f : 0.0f);
                pointers.back().push_back(channels.back().data());
            }
        }
    }
    size_t next = 0;
    for (const int32_t dir : {V3_INPUT, V3_OUTPUT}) {
        const int32_t count = v3_cpp_obj(component)->get_bus_count(component, V3_AUDIO, dir);
        for (int32_t b = 0; b < count && b < 16; ++b, ++next) {
            v3_audio_bus_buffers buf{};
            buf.num_channels = static_cast<int32_t>(pointers[next].size());
            buf.channel_buffers_32 = pointers[next].data();
            buses[dir == V3_INPUT ? 0 : 1].push_back(buf);
        }
    }
    v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, kFrames, 48000.0};
    std::string wrong;
    if (proc(p)->setup_processing(p, &setup) != V3_OK) {
        wrong = "setup_processing refused";
    } else if (v3_cpp_obj(component)->set_active(component, 1) != V3_OK) {
        wrong = "set_active refused";
    } else {
        proc(p)->set_processing(p, 1);
        v3_process_data data{};
        data.process_mode = V3_REALTIME;
        data.symbolic_sample_size = V3_SAMPLE_32;
        data.nframes = kFrames;
        data.num_input_buses = static_cast<int32_t>(buses[0].size());
        data.num_output_buses = static_cast<int32_t>(buses[1].size());
        data.inputs = buses[0].data();
        data.outputs = buses[1].data();
        if (proc(p)->process(p, &data) != V3_OK) wrong = "process answered an error";
        proc(p)->set_processing(p, 0);
        v3_cpp_obj(component)->set_active(component, 0);
        for (size_t c = 0; c < channels.size() && wrong.empty(); ++c) {
            for (int32_t n = 0; n < kFrames; ++n) {
                if (!std::isfinite(channels[c][n])) {
                    wrong = format("channel %zu, sample %d is not finite", c, n);
                    break;
                }
            }
        }
    }
    unrefOf(p);
    return wrong;
}

}  // namespace

std::string vst3ConstructionTrial(const std::string& path, long failAt) {
    std::string module = host::vst3ModulePath(path);
    if (module.find('/') == std::string::npos) module = "./" + module;
    void* library = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return format("cannot load the module: %s", dlerror());
    if (auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(library, "ModuleEntry")))
        entry(library);
    auto get = reinterpret_cast<void* (*)()>(dlsym(library, "GetPluginFactory"));
    auto** factory = get ? static_cast<v3_plugin_factory_cpp**>(get()) : nullptr;
    if (!factory) return "no GetPluginFactory, or no factory";
    v3_tuid cid{};
    bool found = false;
    for (int32_t i = 0; i < (*factory)->v1.num_classes(factory) && !found; ++i) {
        v3_class_info c{};
        if ((*factory)->v1.get_class_info(factory, i, &c) == V3_OK &&
            std::strncmp(c.category, "Audio Module Class", sizeof c.category) == 0) {
            std::memcpy(cid, c.class_id, sizeof cid);
            found = true;
        }
    }
    if (!found) return "no Audio Module Class in the factory";
    Silent silent;
    host::vst3::HostServices services(silent);
    void* obj = nullptr;
    failing_new::arm(failAt);
    const v3_result made = (*factory)->v1.create_instance(factory, cid, v3_component_iid, &obj);
    auto** component = made == V3_OK ? static_cast<v3_component**>(obj) : nullptr;
    const bool initialised =
        component && base(component)->initialize(component, services.context()) == V3_OK;
    const long count = failing_new::disarm();
    const bool hit = failing_new::injected();
    if (!component) {
        if (!hit) return "no instance although no allocation failed";
        return passedWith(format("%ld 1 0", count));
    }
    if (!initialised) {
        unrefOf(component);
        if (!hit) return "initialize refused although no allocation failed";
        return passedWith(format("%ld 0 1", count));
    }
    std::string wrong = stillWorks(component);
    base(component)->terminate(component);
    unrefOf(component);
    if (!wrong.empty()) return wrong;
    return passedWith(format("%ld 0 0", count));
}

std::string vst3EditorOpenTrial(const std::string& path, long failAt) {
    std::unique_ptr<XProbe> probe;
    std::string why;
    for (int attempt = 0; attempt < 10 && !probe; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        probe = XProbe::open(why);
    }
    if (!probe) return why;
    auto host = host::Vst3Host::load(path, why);
    if (!host) return why;
    // A plug-in without a view has nothing to open.
    if (auto** view = v3_cpp_obj(host->controller())->create_view(host->controller(), "editor"))
        unrefOf(view);
    else
        return passedWith("0 0 0");
    const unsigned long parent = probe->makeWindow(640, 640);
    failing_new::arm(failAt);
    const bool opened = host->openView(parent, 0.0);
    const long count = failing_new::disarm();
    const bool hit = failing_new::injected();
    if (!hit) {
        if (!opened) return "the view did not open although no allocation failed";
        host->idle();
        host->closeView();
        return passedWith(format("%ld 0 1", count));
    }
    if (opened) {
        // The view coped with the failure: it must be whole.
        host->idle();
        host->closeView();
        return passedWith(format("%ld 0 1", count));
    }
    if (probe->waitForChildren(parent, 0, 2000) != 0)
        return "a failed create_view or attached left a window in the host window";
    if (!host->openView(parent, 0.0)) return "the open after a failed one fails too";
    host->idle();
    if (probe->waitForChildren(parent, 1, 2000) < 1) return "the later open shows no window";
    host->closeView();
    return passedWith(format("%ld 1 0", count));
}

}  // namespace kv::validate
