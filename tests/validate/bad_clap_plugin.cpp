// A CLAP plug-in file that does wrong on purpose: one factory with one
// plug-in per fault, each a plain stereo gain ("kv23.bad.good") but for the
// one thing its id names. kv23 must survive every one of them, say what the
// plug-in did and give up where the result is unusable. KV_BAD_CLAP=NAME
// puts kv23.bad.NAME first in the factory, for a host that takes a file's
// first plug-in. Faults of the entry itself, which no id can select, come
// with KV_BAD_CLAP_ENTRY:
//   init-hangs    clap_entry.init never returns
//   huge-count    the factory says it holds 0xFFFFFFFF plug-ins
//   describes-past-count  a descriptor at the index past the count
#include <X11/Xlib.h>
#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/thread-check.h>
#include <clap/ext/timer-support.h>
#include <clap/plugin-factory.h>
#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

enum class Fault {
    Good,
    NullDesc,               // the plug-in record's desc is null
    NullPluginFunction,     // its reset is null
    NullExtensionFunction,  // params.get_value is null
    GarbageExtension,       // get_extension(params) answers random bytes
    InitHangs,              // init never returns
    HugeParams,             // params.count answers 0xFFFFFFFF
    HugeChannels,           // the input port has 2^31-1 channels
    EndlessState,           // state.save writes for as long as the stream takes it
    NanOutput,              // process writes NaN
    RefusesProcessing,      // start_processing answers false
    HugeSize,               // gui.get_size answers 0xFFFFFFFF x 0xFFFFFFFF
    ShortEvents,            // value events 16 bytes long, ending at an unmapped page
    Flood,                  // a million output events from every flush and process
    UnterminatedNames,      // a parameter name that fills its field without a zero
    BadDescriptor,          // no name, null features, CLAP version 0.9
    // Not faults: what CLAP allows and a host must meet.
    SideChain,          // a second, mono input port; an error unless the host passes both
    NoTextReading,      // text_to_value answers false
    ResetChecksThread,  // an error at the next block after a reset off the audio thread
    // Another plug-in (the file KV_BAD_CLAP_WRAP names) whose timer call
    // holds the host while the pointer's button is down, as a panel with a
    // modal drag loop does.
    HoldsTimer,
};

struct Kind {
    Fault fault;
    const char* id;
};

const Kind kKinds[] = {
    {Fault::Good, "kv23.bad.good"},
    {Fault::NullDesc, "kv23.bad.null-desc"},
    {Fault::NullPluginFunction, "kv23.bad.null-plugin-function"},
    {Fault::NullExtensionFunction, "kv23.bad.null-extension-function"},
    {Fault::GarbageExtension, "kv23.bad.garbage-extension"},
    {Fault::InitHangs, "kv23.bad.init-hangs"},
    {Fault::HugeParams, "kv23.bad.huge-params"},
    {Fault::HugeChannels, "kv23.bad.huge-channels"},
    {Fault::EndlessState, "kv23.bad.endless-state"},
    {Fault::NanOutput, "kv23.bad.nan-output"},
    {Fault::RefusesProcessing, "kv23.bad.refuses-processing"},
    {Fault::HugeSize, "kv23.bad.huge-size"},
    {Fault::ShortEvents, "kv23.bad.short-events"},
    {Fault::Flood, "kv23.bad.flood"},
    {Fault::UnterminatedNames, "kv23.bad.unterminated-names"},
    {Fault::BadDescriptor, "kv23.bad.bad-descriptor"},
    {Fault::SideChain, "kv23.bad.side-chain"},
    {Fault::NoTextReading, "kv23.bad.no-text-reading"},
    {Fault::ResetChecksThread, "kv23.bad.reset-checks-thread"},
    {Fault::HoldsTimer, "kv23.bad.holds-timer"},
};
constexpr uint32_t kCount = sizeof kKinds / sizeof kKinds[0];

const char* kFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, nullptr};

clap_plugin_descriptor_t gDescriptors[kCount];

const clap_plugin_descriptor_t* descriptorOf(uint32_t i) {
    clap_plugin_descriptor_t& d = gDescriptors[i];
    if (d.id == nullptr) {
        d.clap_version = CLAP_VERSION_INIT;
        d.id = kKinds[i].id;
        d.name = kKinds[i].id + 9;  // "good", "null-desc" ...
        d.vendor = "kv23's test suite";
        d.url = d.manual_url = d.support_url = "";
        d.version = "1.0";
        d.description = "a plug-in that does one thing wrong";
        d.features = kFeatures;
        if (kKinds[i].fault == Fault::BadDescriptor) {
            d.name = "";
            d.features = nullptr;
            d.clap_version = {0, 9, 0};
        }
    }
    return &d;
}

void hang() {
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

struct Bad {
    clap_plugin_t plugin{};
    Fault fault = Fault::Good;
    const clap_host_t* host = nullptr;
    const clap_host_params_t* hostParams = nullptr;
    const clap_host_timer_support_t* hostTimers = nullptr;
    const clap_host_thread_check_t* hostThreads = nullptr;
    bool resetOffAudioThread = false;
    double gain = 1.0;
    clap_id timer = CLAP_INVALID_ID;
};

Bad& of(const clap_plugin_t* p) {
    return *static_cast<Bad*>(p->plugin_data);
}

// A value event of 16 bytes (its header only) whose last byte is the last
// one before an unmapped page: whoever reads it as a whole value event
// reads the unmapped page.
const clap_event_header_t* shortEvent() {
    static clap_event_header_t* event = [] {
        const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        auto* base = static_cast<char*>(
            mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base + page, page, PROT_NONE);
        auto* e = reinterpret_cast<clap_event_header_t*>(base + page - sizeof(clap_event_header_t));
        *e = {sizeof(clap_event_header_t), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        return e;
    }();
    return event;
}

// What the faults that talk to the host send through `out`.
void speak(Bad& b, const clap_output_events_t* out) {
    if (b.fault == Fault::ShortEvents) {
        out->try_push(out, shortEvent());
    } else if (b.fault == Fault::Flood) {
        clap_event_param_value_t v{};
        v.header = {sizeof v, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        v.param_id = 0;
        v.note_id = v.port_index = v.channel = v.key = -1;
        for (int i = 0; i < 1000000; ++i) {
            v.value = -(i % 60);
            out->try_push(out, &v.header);
        }
    }
}

// params: one gain in dB, -60 to 0.
uint32_t paramCount(const clap_plugin_t* p) {
    return of(p).fault == Fault::HugeParams ? 0xFFFFFFFFu : 1;
}

bool paramInfo(const clap_plugin_t* p, uint32_t index, clap_param_info_t* info) {
    if (index != 0 && of(p).fault != Fault::HugeParams) return false;
    *info = {};
    info->id = index;
    info->flags = CLAP_PARAM_IS_AUTOMATABLE;
    if (of(p).fault == Fault::UnterminatedNames) {
        std::memset(info->name, 'N', sizeof info->name);
        std::memset(info->module, 'M', sizeof info->module);
    } else {
        std::strcpy(info->name, "Gain");
    }
    info->min_value = -60.0;
    info->max_value = 0.0;
    info->default_value = 0.0;
    return true;
}

bool paramValue(const clap_plugin_t* p, clap_id id, double* value) {
    if (id != 0) return false;
    *value = 20.0 * std::log10(of(p).gain);
    return true;
}

bool paramText(const clap_plugin_t*, clap_id id, double value, char* text, uint32_t size) {
    if (id != 0 || size < 16) return false;
    std::snprintf(text, size, "%.2f dB", value);
    return true;
}

bool paramRead(const clap_plugin_t* p, clap_id id, const char* text, double* value) {
    if (id != 0 || of(p).fault == Fault::NoTextReading) return false;
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end != text;
}

void take(Bad& b, const clap_input_events_t* in) {
    for (uint32_t i = 0; in && i < in->size(in); ++i) {
        const clap_event_header_t* e = in->get(in, i);
        if (e->space_id == CLAP_CORE_EVENT_SPACE_ID && e->type == CLAP_EVENT_PARAM_VALUE) {
            const auto* v = reinterpret_cast<const clap_event_param_value_t*>(e);
            if (v->param_id == 0) b.gain = std::pow(10.0, std::clamp(v->value, -60.0, 0.0) / 20.0);
        }
    }
}

void paramFlush(const clap_plugin_t* p, const clap_input_events_t* in,
                const clap_output_events_t* out) {
    take(of(p), in);
    speak(of(p), out);
}

const clap_plugin_params_t kParams = {paramCount, paramInfo, paramValue,
                                      paramText,  paramRead, paramFlush};
const clap_plugin_params_t kParamsWithNull = {paramCount, paramInfo, nullptr,
                                              paramText,  paramRead, paramFlush};
// Bytes no function lives at.
const uint64_t kGarbage[8] = {0x0123456789abcdefu, 0xfedcba9876543210u, 0x1111111111111111u,
                              0x2222222222222222u, 0x3333333333333333u, 0x4444444444444444u,
                              0x5555555555555555u, 0x6666666666666666u};

// audio-ports: one stereo port each way (and a mono side-chain input).
uint32_t portCount(const clap_plugin_t* p, bool input) {
    return input && of(p).fault == Fault::SideChain ? 2 : 1;
}

bool portGet(const clap_plugin_t* p, uint32_t index, bool input, clap_audio_port_info_t* info) {
    if (index >= portCount(p, input)) return false;
    if (index == 1) {
        *info = {};
        info->id = 2;
        std::strcpy(info->name, "side-chain");
        info->channel_count = 1;
        info->port_type = CLAP_PORT_MONO;
        info->in_place_pair = CLAP_INVALID_ID;
        return true;
    }
    *info = {};
    info->id = input ? 0 : 1;
    std::strcpy(info->name, input ? "in" : "out");
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = of(p).fault == Fault::HugeChannels && input ? 0x7FFFFFFFu : 2;
    info->port_type = CLAP_PORT_STEREO;
    info->in_place_pair = CLAP_INVALID_ID;
    return true;
}

const clap_plugin_audio_ports_t kPorts = {portCount, portGet};

// state: the gain as a double, or without end.
bool stateSave(const clap_plugin_t* p, const clap_ostream_t* stream) {
    Bad& b = of(p);
    if (b.fault != Fault::EndlessState)
        return stream->write(stream, &b.gain, sizeof b.gain) == sizeof b.gain;
    static const std::vector<char> megabyte(1 << 20, 'x');
    for (;;) {
        if (stream->write(stream, megabyte.data(), megabyte.size()) < 0) return false;
    }
}

bool stateLoad(const clap_plugin_t* p, const clap_istream_t* stream) {
    double gain = 0.0;
    if (stream->read(stream, &gain, sizeof gain) != sizeof gain || !(gain >= 0.0 && gain <= 1.0))
        return false;
    of(p).gain = gain;
    return true;
}

const clap_plugin_state_t kState = {stateSave, stateLoad};

// gui (for the faults that need one): no window of its own, a timer that
// asks for a flush, and the size it says.
bool guiApi(const clap_plugin_t*, const char* api, bool floating) {
    return !floating && api && std::strcmp(api, CLAP_WINDOW_API_X11) == 0;
}
bool guiPreferred(const clap_plugin_t*, const char** api, bool* floating) {
    *api = CLAP_WINDOW_API_X11;
    *floating = false;
    return true;
}
bool guiCreate(const clap_plugin_t* p, const char* api, bool floating) {
    Bad& b = of(p);
    if (!guiApi(p, api, floating)) return false;
    if (b.hostTimers && b.timer == CLAP_INVALID_ID)
        b.hostTimers->register_timer(b.host, 20, &b.timer);
    return true;
}
void guiDestroy(const clap_plugin_t* p) {
    Bad& b = of(p);
    if (b.hostTimers && b.timer != CLAP_INVALID_ID) b.hostTimers->unregister_timer(b.host, b.timer);
    b.timer = CLAP_INVALID_ID;
}
bool guiScale(const clap_plugin_t*, double) {
    return false;
}
bool guiSize(const clap_plugin_t* p, uint32_t* w, uint32_t* h) {
    const bool huge = of(p).fault == Fault::HugeSize;
    *w = huge ? 0xFFFFFFFFu : 100;
    *h = huge ? 0xFFFFFFFFu : 100;
    return true;
}
bool guiNo(const clap_plugin_t*) {
    return false;
}
bool guiHints(const clap_plugin_t*, clap_gui_resize_hints_t*) {
    return false;
}
bool guiAdjust(const clap_plugin_t*, uint32_t*, uint32_t*) {
    return false;
}
bool guiSetSize(const clap_plugin_t*, uint32_t, uint32_t) {
    return false;
}
bool guiParent(const clap_plugin_t*, const clap_window_t* w) {
    return w && w->api && std::strcmp(w->api, CLAP_WINDOW_API_X11) == 0;
}
bool guiTransient(const clap_plugin_t*, const clap_window_t*) {
    return false;
}
void guiTitle(const clap_plugin_t*, const char*) {}
bool guiYes(const clap_plugin_t*) {
    return true;
}

const clap_plugin_gui_t kGui = {guiApi,    guiPreferred, guiCreate, guiDestroy, guiScale,
                                guiSize,   guiNo,        guiHints,  guiAdjust,  guiSetSize,
                                guiParent, guiTransient, guiTitle,  guiYes,     guiYes};

void onTimer(const clap_plugin_t* p, clap_id) {
    Bad& b = of(p);
    if (b.hostParams) b.hostParams->request_flush(b.host);
}

const clap_plugin_timer_support_t kTimer = {onTimer};

// The plug-in record.
bool init(const clap_plugin_t* p) {
    Bad& b = of(p);
    if (b.fault == Fault::InitHangs) hang();
    b.hostParams =
        static_cast<const clap_host_params_t*>(b.host->get_extension(b.host, CLAP_EXT_PARAMS));
    b.hostTimers = static_cast<const clap_host_timer_support_t*>(
        b.host->get_extension(b.host, CLAP_EXT_TIMER_SUPPORT));
    b.hostThreads = static_cast<const clap_host_thread_check_t*>(
        b.host->get_extension(b.host, CLAP_EXT_THREAD_CHECK));
    return true;
}
void destroy(const clap_plugin_t* p) {
    delete &of(p);
}
bool activate(const clap_plugin_t*, double, uint32_t, uint32_t) {
    return true;
}
void deactivate(const clap_plugin_t*) {}
bool startProcessing(const clap_plugin_t* p) {
    return of(p).fault != Fault::RefusesProcessing;
}
void stopProcessing(const clap_plugin_t*) {}
void reset(const clap_plugin_t* p) {
    Bad& b = of(p);
    if (b.fault == Fault::ResetChecksThread && b.hostThreads &&
        !b.hostThreads->is_audio_thread(b.host))
        b.resetOffAudioThread = true;
}

clap_process_status process(const clap_plugin_t* p, const clap_process_t* process) {
    Bad& b = of(p);
    take(b, process->in_events);
    speak(b, process->out_events);
    if (process->audio_inputs_count < 1 || process->audio_outputs_count < 1)
        return CLAP_PROCESS_ERROR;
    if (b.fault == Fault::SideChain &&
        (process->audio_inputs_count != 2 || process->audio_inputs[1].channel_count != 1 ||
         !process->audio_inputs[1].data32 || !process->audio_inputs[1].data32[0]))
        return CLAP_PROCESS_ERROR;
    if (b.resetOffAudioThread) return CLAP_PROCESS_ERROR;
    const clap_audio_buffer_t& in = process->audio_inputs[0];
    const clap_audio_buffer_t& out = process->audio_outputs[0];
    for (uint32_t c = 0; c < 2; ++c) {
        for (uint32_t i = 0; i < process->frames_count; ++i) {
            const double v = b.fault == Fault::NanOutput ? std::numeric_limits<double>::quiet_NaN()
                                                         : in.data32[c][i] * b.gain;
            out.data32[c][i] = static_cast<float>(v);
        }
    }
    return CLAP_PROCESS_CONTINUE;
}

const void* extension(const clap_plugin_t* p, const char* id) {
    const Fault f = of(p).fault;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) {
        if (f == Fault::GarbageExtension) return kGarbage;
        return f == Fault::NullExtensionFunction ? &kParamsWithNull : &kParams;
    }
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) return &kPorts;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &kState;
    const bool withGui =
        f == Fault::Good || f == Fault::HugeSize || f == Fault::ShortEvents || f == Fault::Flood;
    if (withGui && std::strcmp(id, CLAP_EXT_GUI) == 0) return &kGui;
    if (withGui && std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &kTimer;
    return nullptr;
}

void onMainThread(const clap_plugin_t*) {}

// --- kv23.bad.holds-timer: the wrapped plug-in's own record, with its
// timer-support exchanged for one that does not return while button 1 is
// held (the pointer read on a display connection of our own).
const void* (*gWrappedExtension)(const clap_plugin_t*, const char*) = nullptr;
const clap_plugin_timer_support_t* gWrappedTimer = nullptr;

bool buttonHeld() {
    static Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) return false;
    Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rx, &ry, &wx, &wy, &mask);
    return (mask & Button1Mask) != 0;
}

void holdingTimer(const clap_plugin_t* p, clap_id id) {
    gWrappedTimer->on_timer(p, id);
    while (buttonHeld()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        gWrappedTimer->on_timer(p, id);
    }
}

const clap_plugin_timer_support_t kHoldingTimer = {holdingTimer};

const void* holdingExtension(const clap_plugin_t* p, const char* id) {
    const void* ext = gWrappedExtension(p, id);
    if (!ext || std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) != 0) return ext;
    gWrappedTimer = static_cast<const clap_plugin_timer_support_t*>(ext);
    return &kHoldingTimer;
}

const clap_plugin_t* createWrapped(const clap_host_t* host) {
    const char* path = std::getenv("KV_BAD_CLAP_WRAP");
    void* library = path ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
    const auto* entry =
        library ? static_cast<const clap_plugin_entry_t*>(dlsym(library, "clap_entry")) : nullptr;
    if (!entry || !entry->init(path)) return nullptr;
    const auto* factory =
        static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_descriptor_t* d =
        factory ? factory->get_plugin_descriptor(factory, 0) : nullptr;
    auto* p =
        d ? const_cast<clap_plugin_t*>(factory->create_plugin(factory, host, d->id)) : nullptr;
    if (!p) return nullptr;
    gWrappedExtension = p->get_extension;
    p->get_extension = holdingExtension;
    return p;
}

const clap_plugin_t* create(const clap_plugin_factory_t*, const clap_host_t* host, const char* id) {
    for (uint32_t i = 0; i < kCount; ++i) {
        if (!id || std::strcmp(id, kKinds[i].id) != 0) continue;
        if (kKinds[i].fault == Fault::HoldsTimer) return createWrapped(host);
        auto* b = new Bad;
        b->fault = kKinds[i].fault;
        b->host = host;
        b->plugin = {
            descriptorOf(i), b,     init,    destroy,   activate,    deactivate, startProcessing,
            stopProcessing,  reset, process, extension, onMainThread};
        if (b->fault == Fault::NullDesc) b->plugin.desc = nullptr;
        if (b->fault == Fault::NullPluginFunction) b->plugin.reset = nullptr;
        return &b->plugin;
    }
    return nullptr;
}

bool entryFault(const char* name) {
    const char* chosen = std::getenv("KV_BAD_CLAP_ENTRY");
    return chosen && std::strcmp(chosen, name) == 0;
}

uint32_t count(const clap_plugin_factory_t*) {
    return entryFault("huge-count") ? 0xFFFFFFFFu : kCount;
}

// The factory's order: KV_BAD_CLAP's plug-in first, then the rest as listed.
uint32_t kindAt(uint32_t index) {
    const char* first = std::getenv("KV_BAD_CLAP");
    uint32_t chosen = 0;
    for (uint32_t i = 0; first && i < kCount; ++i) {
        if (std::strcmp(kKinds[i].id + 9, first) == 0) chosen = i;
    }
    if (index == 0) return chosen;
    return index <= chosen ? index - 1 : index;
}

const clap_plugin_descriptor_t* describe(const clap_plugin_factory_t*, uint32_t index) {
    // A factory that describes what it does not have: no host asks it.
    if (entryFault("describes-past-count") && index == kCount) return descriptorOf(0);
    return index < kCount ? descriptorOf(kindAt(index)) : nullptr;
}

const clap_plugin_factory_t kFactory = {count, describe, create};

bool entryInit(const char*) {
    if (entryFault("init-hangs")) hang();
    return true;
}
void entryDeinit() {}
const void* entryFactory(const char* id) {
    return id && std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory : nullptr;
}

}  // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION_INIT, entryInit,
                                                               entryDeinit, entryFactory};
