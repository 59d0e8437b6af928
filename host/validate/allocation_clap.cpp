// The allocation trials for a CLAP plug-in (check_allocation.cpp runs them
// as it runs VST 2's): create_plugin and init, and the gui's create and
// set_parent, with one allocation made to fail. The host side makes no
// allocation of its own while the plug-in's are counted: the instance is
// built through a host record that offers no extension, and the editor's
// host (ClapHost) keeps room for the timers a panel registers.
#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/plugin-factory.h>
#include <dlfcn.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "host/clap_host.h"
#include "host/validate/allocation_trials.h"
#include "host/validate/failing_new.h"
#include "host/validate/isolation.h"
#include "host/validate/validator.h"
#include "host/validate/x11_probe.h"

namespace kv::validate {

namespace {

constexpr uint32_t kFrames = 256;

const void* noExtension(const clap_host_t*, const char*) {
    return nullptr;
}
void nothing(const clap_host_t*) {}

const clap_host_t kQuietHost = {CLAP_VERSION_INIT, nullptr, "kv23",  "Harrow Quill", "", "1",
                                noExtension,       nothing, nothing, nothing};

// Buffers for every audio port of one direction, each with its channels.
struct PortBuffers {
    std::vector<std::vector<float>> channels;
    std::vector<std::vector<float*>> pointers;
    std::vector<clap_audio_buffer_t> ports;

    PortBuffers(const clap_plugin_t* p, bool input) {
        const auto* ext = static_cast<const clap_plugin_audio_ports_t*>(
            p->get_extension(p, CLAP_EXT_AUDIO_PORTS));
        const uint32_t count = ext ? ext->count(p, input) : 0;
        std::vector<uint32_t> widths;
        for (uint32_t i = 0; i < count; ++i) {
            clap_audio_port_info_t info{};
            widths.push_back(ext->get(p, i, input, &info) ? info.channel_count : 0);
        }
        for (uint32_t w : widths) {
            pointers.emplace_back();
            for (uint32_t c = 0; c < w; ++c) {
                channels.emplace_back(kFrames, input ? 0.5f : 0.0f);
                pointers.back().push_back(channels.back().data());
            }
        }
        for (size_t i = 0; i < widths.size(); ++i)
            ports.push_back({pointers[i].data(), nullptr, widths[i], 0, 0});
    }
};

// What a host does with an instance it got: activate it, process a block
// with a buffer for every port, and deactivate; empty when all went well.
std::string stillWorks(const clap_plugin_t* p) {
    if (!p->activate(p, 48000.0, 1, kFrames)) return "activate refused";
    if (!p->start_processing(p)) {
        p->deactivate(p);
        return "start_processing refused";
    }
    PortBuffers in(p, true), out(p, false);
    clap_input_events_t events{
        nullptr, [](const clap_input_events_t*) -> uint32_t { return 0; },
        [](const clap_input_events_t*, uint32_t) -> const clap_event_header_t* { return nullptr; }};
    clap_output_events_t sink{
        nullptr, [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};
    clap_process_t process{};
    process.frames_count = kFrames;
    process.audio_inputs = in.ports.data();
    process.audio_outputs = out.ports.data();
    process.audio_inputs_count = static_cast<uint32_t>(in.ports.size());
    process.audio_outputs_count = static_cast<uint32_t>(out.ports.size());
    process.in_events = &events;
    process.out_events = &sink;
    const clap_process_status status = p->process(p, &process);
    p->stop_processing(p);
    p->deactivate(p);
    if (status == CLAP_PROCESS_ERROR) return "process answered an error";
    for (size_t c = 0; c < out.channels.size(); ++c) {
        for (uint32_t n = 0; n < kFrames; ++n) {
            if (!std::isfinite(out.channels[c][n]))
                return format("output channel %zu, sample %u is not finite", c, n);
        }
    }
    return {};
}

}  // namespace

std::string clapConstructionTrial(const std::string& path, const std::string& id, long failAt) {
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return format("cannot load the plug-in: %s", dlerror());
    const auto* entry = static_cast<const clap_plugin_entry_t*>(dlsym(library, "clap_entry"));
    if (!entry || !entry->init(file.c_str())) return "no clap_entry, or its init failed";
    const auto* factory =
        static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_descriptor_t* d = nullptr;
    const uint32_t count = factory ? factory->get_plugin_count(factory) : 0;
    for (uint32_t i = 0; i < count && !d; ++i) {
        d = factory->get_plugin_descriptor(factory, i);
        if (d && d->id && !id.empty() && id != d->id) d = nullptr;
    }
    if (!d || !d->id) return "no plug-in in the factory";
    failing_new::arm(failAt);
    const clap_plugin_t* p = factory->create_plugin(factory, &kQuietHost, d->id);
    const bool initialised = p && p->init(p);
    const long made = failing_new::disarm();
    const bool hit = failing_new::injected();
    if (!p) {
        if (!hit) return "no instance although no allocation failed";
        return passedWith(format("%ld 1 0", made));
    }
    if (!initialised) {
        p->destroy(p);
        if (!hit) return "init failed although no allocation failed";
        return passedWith(format("%ld 0 1", made));
    }
    std::string wrong = stillWorks(p);
    p->destroy(p);
    if (!wrong.empty()) return wrong;
    return passedWith(format("%ld 0 0", made));
}

std::string clapEditorOpenTrial(const std::string& path, const std::string& id, long failAt) {
    std::unique_ptr<XProbe> probe;
    std::string why;
    for (int attempt = 0; attempt < 10 && !probe; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        probe = XProbe::open(why);
    }
    if (!probe) return why;
    auto host = host::ClapHost::load(path, why, id);
    if (!host) return why;
    const clap_plugin_gui_t* gui = host->gui();
    const clap_plugin_t* p = host->plugin();
    if (!gui || !gui->is_api_supported(p, CLAP_WINDOW_API_X11, false)) return passedWith("0 0 0");
    const unsigned long parent = probe->makeWindow(640, 640);
    clap_window_t window{};
    window.api = CLAP_WINDOW_API_X11;
    window.x11 = parent;
    failing_new::arm(failAt);
    const bool created = gui->create(p, CLAP_WINDOW_API_X11, false);
    const bool opened = created && gui->set_parent(p, &window);
    const long made = failing_new::disarm();
    const bool hit = failing_new::injected();
    if (opened) gui->show(p);
    host->idle();
    if (!hit) {
        if (!opened) return "the panel did not open although no allocation failed";
        gui->destroy(p);
        return passedWith(format("%ld 0 1", made));
    }
    if (opened) {
        // The panel coped with the failure: it must be whole.
        host->fireTimers();
        gui->destroy(p);
        return passedWith(format("%ld 0 1", made));
    }
    if (created) gui->destroy(p);
    if (probe->waitForChildren(parent, 0, 2000) != 0)
        return "a failed create or set_parent left a window in the host window";
    if (!gui->create(p, CLAP_WINDOW_API_X11, false) || !gui->set_parent(p, &window))
        return "the open after a failed one fails too";
    gui->show(p);
    host->fireTimers();
    if (probe->waitForChildren(parent, 1, 2000) < 1) return "the later open shows no window";
    gui->destroy(p);
    return passedWith(format("%ld 1 0", made));
}

}  // namespace kv::validate
