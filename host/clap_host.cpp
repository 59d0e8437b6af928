#include "host/clap_host.h"

#include <clap/ext/latency.h>
#include <clap/ext/thread-check.h>
#include <clap/plugin-factory.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>

#include "host/clap_sanity.h"
#include "host/plugin_calls.h"

namespace kv::host {

namespace {

// The thread inside process (or start/stop_processing) of any instance is
// the audio thread for as long as it is there.
thread_local int audioDepth = 0;

struct AudioThread {
    AudioThread() { ++audioDepth; }
    ~AudioThread() { --audioDepth; }
    AudioThread(const AudioThread&) = delete;
    AudioThread& operator=(const AudioThread&) = delete;
};

// The events of one block, sorted by time, as CLAP's input list.
struct EventList {
    std::vector<clap_event_param_value_t> events;
    clap_input_events_t list{this, size, get};

    static uint32_t size(const clap_input_events_t* l) {
        return static_cast<uint32_t>(static_cast<const EventList*>(l->ctx)->events.size());
    }
    static const clap_event_header_t* get(const clap_input_events_t* l, uint32_t i) {
        const auto& events = static_cast<const EventList*>(l->ctx)->events;
        return i < events.size() ? &events[i].header : nullptr;
    }
};

clap_event_param_value_t valueEvent(uint32_t time, clap_id id, double value,
                                    const clap_param_info_t* info) {
    clap_event_param_value_t e{};
    e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.param_id = id;
    e.cookie = info ? info->cookie : nullptr;
    e.note_id = -1;
    e.port_index = e.channel = e.key = -1;
    e.value = value;
    return e;
}

// The size each core event type has at least; 0 for types kv23 reads
// nothing of beyond the header.
uint32_t coreEventSize(uint16_t type) {
    switch (type) {
        case CLAP_EVENT_PARAM_VALUE:
            return sizeof(clap_event_param_value_t);
        case CLAP_EVENT_PARAM_MOD:
            return sizeof(clap_event_param_mod_t);
        case CLAP_EVENT_PARAM_GESTURE_BEGIN:
        case CLAP_EVENT_PARAM_GESTURE_END:
            return sizeof(clap_event_param_gesture_t);
        case CLAP_EVENT_NOTE_ON:
        case CLAP_EVENT_NOTE_OFF:
        case CLAP_EVENT_NOTE_CHOKE:
        case CLAP_EVENT_NOTE_END:
            return sizeof(clap_event_note_t);
        default:
            return 0;
    }
}

}  // namespace

// The host record's and the extensions' entry points. Each finds its
// ClapHost through host_data; the thread rules are CLAP's.
struct ClapHost::Callbacks {
    static ClapHost& of(const clap_host_t* h) { return *static_cast<ClapHost*>(h->host_data); }

    static const void* extension(const clap_host_t*, const char* id) {
        if (!id) return nullptr;
        if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &kGui;
        if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &kTimers;
        if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &kParams;
        if (std::strcmp(id, CLAP_EXT_THREAD_CHECK) == 0) return &kThreadCheck;
        if (std::strcmp(id, CLAP_EXT_LATENCY) == 0) return &kLatency;
        return nullptr;
    }
    // A host may act inside any call the plug-in makes; the listener hears
    // those made on the main thread by name, before the host answers.
    static void called(const clap_host_t* h, const char* name) {
        ClapHost& c = of(h);
        if (c.listener_ && c.onMainThread()) c.listener_->hostCalled(name);
    }
    static void requestRestart(const clap_host_t* h) { called(h, "host.request_restart"); }
    static void requestProcess(const clap_host_t* h) { called(h, "host.request_process"); }
    static void requestCallback(const clap_host_t* h) {
        of(h).callbackRequested_ = true;
        called(h, "host.request_callback");
    }

    // gui: thread-safe calls; the listener hears them on the main thread.
    static void resizeHintsChanged(const clap_host_t* h) {
        ClapHost& c = of(h);
        if (c.onMainThread() && c.listener_) c.listener_->resizeHintsChanged();
    }
    static bool requestResize(const clap_host_t* h, uint32_t width, uint32_t height) {
        ClapHost& c = of(h);
        if (width == 0 || height == 0) return false;
        if (!c.onMainThread()) {
            // Acknowledged; the next idle() carries it out.
            c.pendingResize_ = (static_cast<uint64_t>(width) << 32) | height;
            return true;
        }
        return c.listener_ && c.listener_->requestResize(width, height);
    }
    static bool requestShow(const clap_host_t* h) {
        ClapHost& c = of(h);
        return c.onMainThread() && c.listener_ && c.listener_->requestShow();
    }
    static bool requestHide(const clap_host_t* h) {
        ClapHost& c = of(h);
        return c.onMainThread() && c.listener_ && c.listener_->requestHide();
    }
    static void closed(const clap_host_t* h, bool wasDestroyed) {
        ClapHost& c = of(h);
        if (c.listener_) c.listener_->guiClosed(wasDestroyed);
    }

    // timer-support: main thread only.
    static bool registerTimer(const clap_host_t* h, uint32_t periodMs, clap_id* id) {
        ClapHost& c = of(h);
        if (!c.onMainThread()) c.noteMisuse("timer-support.register_timer off the main thread");
        if (!id) return false;
        // Hosts run timers at their own pace; none faster than 10 ms here.
        const uint32_t period = std::max<uint32_t>(periodMs, 10);
        c.timers_.push_back({c.nextTimer_, period,
                             std::chrono::steady_clock::now() + std::chrono::milliseconds(period)});
        *id = c.nextTimer_++;
        return true;
    }
    static bool unregisterTimer(const clap_host_t* h, clap_id id) {
        ClapHost& c = of(h);
        if (!c.onMainThread()) c.noteMisuse("timer-support.unregister_timer off the main thread");
        const auto found = std::find_if(c.timers_.begin(), c.timers_.end(),
                                        [id](const Timer& t) { return t.id == id; });
        if (found == c.timers_.end()) return false;
        c.timers_.erase(found);
        return true;
    }

    // params
    static void rescan(const clap_host_t* h, clap_param_rescan_flags flags) {
        ClapHost& c = of(h);
        if (!c.onMainThread())
            c.noteMisuse("params.rescan off the main thread");
        else if ((flags & (CLAP_PARAM_RESCAN_ALL | CLAP_PARAM_RESCAN_INFO)) != 0)
            c.readParams();
    }
    static void clear(const clap_host_t* h, clap_id, clap_param_clear_flags) {
        ClapHost& c = of(h);
        if (!c.onMainThread()) c.noteMisuse("params.clear off the main thread");
    }
    static void requestFlush(const clap_host_t* h) {
        of(h).flushRequested_ = true;
        called(h, "params.request_flush");
    }

    // latency: kv23 renders offline and compensates nothing; what it owes
    // the plug-in is to hear the change on the main thread.
    static void latencyChanged(const clap_host_t* h) {
        ClapHost& c = of(h);
        if (!c.onMainThread()) c.noteMisuse("latency.changed off the main thread");
    }

    static bool isMainThread(const clap_host_t* h) { return of(h).onMainThread(); }
    static bool isAudioThread(const clap_host_t*) { return audioDepth > 0; }

    static bool push(const clap_output_events_t* out, const clap_event_header_t* event) {
        return static_cast<ClapHost*>(out->ctx)->deliver(event);
    }

    static constexpr clap_host_gui_t kGui = {resizeHintsChanged, requestResize, requestShow,
                                             requestHide, closed};
    static constexpr clap_host_timer_support_t kTimers = {registerTimer, unregisterTimer};
    static constexpr clap_host_params_t kParams = {rescan, clear, requestFlush};
    static constexpr clap_host_thread_check_t kThreadCheck = {isMainThread, isAudioThread};
    static constexpr clap_host_latency_t kLatency = {latencyChanged};
};

ClapHost::ClapHost() : mainThread_(std::this_thread::get_id()) {
    // Room for the timers a panel registers, so that registering one
    // allocates nothing (kv23 validate counts the plug-in's allocations
    // during gui.create and set_parent).
    timers_.reserve(16);
    host_ = {CLAP_VERSION_INIT,
             this,
             "kv23",
             "Harrow Quill",
             "",
             KV_VERSION,
             Callbacks::extension,
             Callbacks::requestRestart,
             Callbacks::requestProcess,
             Callbacks::requestCallback};
    output_ = {this, Callbacks::push};
}

bool ClapHost::onMainThread() const {
    return audioDepth == 0 && std::this_thread::get_id() == mainThread_;
}

void ClapHost::noteMisuse(const char* call) {
    const char* none = nullptr;
    misuse_.compare_exchange_strong(none, call);
}

std::string ClapHost::misuse() const {
    const char* m = misuse_.load();
    return m ? m : "";
}

void ClapHost::noteFault(const std::string& sentence) {
    const std::lock_guard<std::mutex> hold(faultLock_);
    if (fault_.empty()) fault_ = sentence;
    faulted_ = true;
}

std::string ClapHost::fault() const {
    const std::lock_guard<std::mutex> hold(faultLock_);
    return fault_;
}

// An event the plug-in pushes is refused, and noted as its fault, when it
// is shorter than its type or comes past the flood limit of one call; what
// the listener gets may be read as its type says.
bool ClapHost::deliver(const clap_event_header_t* event) {
    if (!event) {
        noteFault("the plug-in pushed a null output event");
        return false;
    }
    if (pushes_.fetch_add(1) + 1 > kClapMaxEventsPerCall) {
        // Said once; the rest of a flood costs a comparison each.
        if (!faulted_.exchange(true))
            noteFault("the plug-in pushed more than " + std::to_string(kClapMaxEventsPerCall) +
                      " output events in one call; kv23 refused the rest");
        return false;
    }
    const uint32_t least =
        event->space_id == CLAP_CORE_EVENT_SPACE_ID ? coreEventSize(event->type) : 0;
    if (event->size < sizeof(clap_event_header_t) || event->size < least) {
        if (!faulted_)
            noteFault("the plug-in pushed an output event of type " + std::to_string(event->type) +
                      " whose size says " + std::to_string(event->size) + " bytes, less than the " +
                      std::to_string(std::max<size_t>(least, sizeof(clap_event_header_t))) +
                      " of its type; kv23 refused it");
        return false;
    }
    if (refuseNth_ != 0 && ++refusalTicks_ % refuseNth_ == 0) return false;
    if (listener_) listener_->outputEvent(*event);
    return true;
}

bool isClapFile(const std::string& path) {
    return path.size() > 5 && path.compare(path.size() - 5, 5, ".clap") == 0;
}

namespace {

// The library, its entry and its plug-in factory, checked field by field
// before they are called.
struct OpenedFactory {
    void* library = nullptr;
    const clap_plugin_entry_t* entry = nullptr;
    bool initialised = false;
    const clap_plugin_factory_t* factory = nullptr;
    uint32_t count = 0;
};

const char* const kEntryFields[] = {"init", "deinit", "get_factory"};
const char* const kFactoryFields[] = {"get_plugin_count", "get_plugin_descriptor", "create_plugin"};

// False with the sentence in `error`; what was opened stays in `f` for
// closeFactory (or for the ClapHost that keeps it).
bool openFactory(const std::string& path, const std::string& absolute, OpenedFactory& f,
                 std::string& error) {
    f.library = dlopen(absolute.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!f.library) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why ? why : "unknown error") +
                " (is it a CLAP plug-in for this machine?)";
        return false;
    }
    f.entry = static_cast<const clap_plugin_entry_t*>(dlsym(f.library, "clap_entry"));
    if (!f.entry) {
        error = path + " has no clap_entry: it is not a CLAP plug-in";
        return false;
    }
    clap_version_t version{};
    if (!copyIfReadable(&version, &f.entry->clap_version, sizeof version)) {
        error = path + ": its clap_entry cannot be read";
        return false;
    }
    if (!clap_version_is_compatible(version)) {
        error = path + " is made for CLAP " + std::to_string(version.major) +
                ", which kv23 (CLAP 1) cannot host";
        return false;
    }
    if (std::string bad = checkFunctions("clap_entry", &f.entry->init, 3, kEntryFields);
        !bad.empty()) {
        f.entry = nullptr;
        error = path + ": " + bad;
        return false;
    }
    {
        PluginCall call("clap_entry.init");
        f.initialised = f.entry->init(path.c_str());
    }
    if (!f.initialised) {
        error = path + ": its clap_entry.init failed";
        return false;
    }
    {
        PluginCall call("clap_entry.get_factory");
        f.factory =
            static_cast<const clap_plugin_factory_t*>(f.entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    }
    if (!f.factory) {
        error = path + " offers no plug-in factory";
        return false;
    }
    if (std::string bad = checkFunctions("plugin_factory", f.factory, 3, kFactoryFields);
        !bad.empty()) {
        error = path + ": " + bad;
        return false;
    }
    {
        PluginCall call("plugin_factory.get_plugin_count");
        f.count = f.factory->get_plugin_count(f.factory);
    }
    if (f.count == 0) {
        error = path + " offers a plug-in factory with no plug-in";
        return false;
    }
    if (f.count > kClapMaxPlugins) {
        error = path + ": its factory's get_plugin_count answers " + std::to_string(f.count) +
                ", more plug-ins than one file holds (kv23 takes at most " +
                std::to_string(kClapMaxPlugins) + ")";
        return false;
    }
    return true;
}

void closeFactory(OpenedFactory& f) {
    if (f.initialised && f.entry) {
        PluginCall call("clap_entry.deinit");
        f.entry->deinit();
    }
    if (f.library) dlclose(f.library);
    f = OpenedFactory{};
}

// A descriptor with its texts read within bounds; false with the sentence
// in `error`.
bool readDescriptor(const clap_plugin_descriptor_t* d, const std::string& where,
                    ClapDescriptor& out, std::string& error) {
    clap_plugin_descriptor_t copy{};
    if (!d) {
        error = where + " is null";
        return false;
    }
    if (!copyIfReadable(&copy, d, sizeof copy)) {
        error = where + " points to memory that cannot be read";
        return false;
    }
    out.clapVersion = copy.clap_version;
    const struct {
        const char* text;
        std::string* into;
        const char* field;
    } texts[] = {{copy.id, &out.id, "id"},
                 {copy.name, &out.name, "name"},
                 {copy.vendor, &out.vendor, "vendor"},
                 {copy.url, &out.url, "url"},
                 {copy.version, &out.version, "version"},
                 {copy.description, &out.description, "description"}};
    for (const auto& t : texts) {
        if (t.text == nullptr) continue;  // a missing text is the checks' to judge
        if (!readableText(t.text, 4096, *t.into)) {
            error = where + "'s " + t.field +
                    " cannot be read, or has no terminating zero within 4096 bytes";
            return false;
        }
    }
    if (copy.id == nullptr || out.id.empty()) {
        error = where + " has no id";
        return false;
    }
    out.featuresNull = copy.features == nullptr;
    for (size_t i = 0; copy.features && i < 256; ++i) {
        const char* feature = nullptr;
        if (!copyIfReadable(&feature, copy.features + i, sizeof feature)) {
            error = where + "'s features cannot be read";
            return false;
        }
        if (!feature) break;
        std::string text;
        if (!readableText(feature, 4096, text)) {
            error = where + "'s feature " + std::to_string(i) + " cannot be read";
            return false;
        }
        out.features.push_back(text);
    }
    return true;
}

const clap_plugin_descriptor_t* descriptorAt(const OpenedFactory& f, uint32_t index) {
    PluginCall call("plugin_factory.get_plugin_descriptor");
    return f.factory->get_plugin_descriptor(f.factory, index);
}

std::string where(const std::string& path, uint32_t index) {
    return path + ": the factory's descriptor " + std::to_string(index);
}

}  // namespace

std::vector<std::string> ClapHost::pluginIds(const std::string& path, std::string& error) {
    std::error_code ignored;
    const std::string absolute = std::filesystem::absolute(path, ignored).string();
    OpenedFactory f;
    std::vector<std::string> ids;
    if (openFactory(path, absolute, f, error)) {
        for (uint32_t i = 0; i < f.count; ++i) {
            ClapDescriptor d;
            if (!readDescriptor(descriptorAt(f, i), where(path, i), d, error)) {
                ids.clear();
                break;
            }
            ids.push_back(d.id);
        }
    }
    closeFactory(f);
    return ids;
}

std::unique_ptr<ClapHost> ClapHost::load(const std::string& path, std::string& error,
                                         const std::string& id) {
    std::unique_ptr<ClapHost> host(new ClapHost);
    // dlopen searches the library path for a name without a slash: a file
    // named on the command line is meant as it stands.
    std::error_code ignored;
    host->path_ = std::filesystem::absolute(path, ignored).string();
    OpenedFactory f;
    const bool opened = openFactory(path, host->path_, f, error);
    host->library_ = f.library;
    host->entry_ = f.entry;
    host->entryInitialised_ = f.initialised;
    if (!opened) return nullptr;
    // The plug-in asked for, or the first; its descriptor read within bounds.
    std::string known;
    bool found = false;
    for (uint32_t i = 0; i < f.count && !found; ++i) {
        ClapDescriptor d;
        if (!readDescriptor(descriptorAt(f, i), where(path, i), d, error)) return nullptr;
        found = id.empty() || d.id == id;
        if (found) host->descriptor_ = d;
        known += (known.empty() ? "" : ", ") + d.id;
    }
    if (!found) {
        error = path + " has no plug-in with the id " + id + " (it has " + known + ")";
        return nullptr;
    }
    const std::string& name = host->descriptor_.id;
    {
        PluginCall call("plugin_factory.create_plugin");
        host->plugin_ = f.factory->create_plugin(f.factory, &host->host_, name.c_str());
    }
    if (!host->plugin_) {
        error = path + ": the factory could not create " + name;
        return nullptr;
    }
    if (std::string bad = checkPlugin(host->plugin_); !bad.empty()) {
        // Nothing of it can be called, destroy included.
        host->plugin_ = nullptr;
        error = path + ": " + name + ": " + bad;
        return nullptr;
    }
    bool initialised = false;
    {
        PluginCall call("clap_plugin.init");
        initialised = host->plugin_->init(host->plugin_);
    }
    if (!initialised) {
        host->plugin_->destroy(host->plugin_);
        host->plugin_ = nullptr;
        error = path + ": " + name + " failed its init";
        return nullptr;
    }
    const clap_plugin_t* p = host->plugin_;
    std::string broken;
    const auto extension = [&](const char* which, const char* call) -> const void* {
        const void* ext = nullptr;
        {
            PluginCall inside(call);
            ext = p->get_extension(p, which);
        }
        if (!ext) return nullptr;
        if (std::string bad = checkExtension(which, ext); !bad.empty()) {
            if (broken.empty()) broken = bad;
            return nullptr;
        }
        return ext;
    };
    host->paramsExt_ = static_cast<const clap_plugin_params_t*>(
        extension(CLAP_EXT_PARAMS, "clap_plugin.get_extension(clap.params)"));
    host->portsExt_ = static_cast<const clap_plugin_audio_ports_t*>(
        extension(CLAP_EXT_AUDIO_PORTS, "clap_plugin.get_extension(clap.audio-ports)"));
    host->stateExt_ = static_cast<const clap_plugin_state_t*>(
        extension(CLAP_EXT_STATE, "clap_plugin.get_extension(clap.state)"));
    host->guiExt_ = static_cast<const clap_plugin_gui_t*>(
        extension(CLAP_EXT_GUI, "clap_plugin.get_extension(clap.gui)"));
    host->timerExt_ = static_cast<const clap_plugin_timer_support_t*>(
        extension(CLAP_EXT_TIMER_SUPPORT, "clap_plugin.get_extension(clap.timer-support)"));
    if (broken.empty()) broken = host->readPorts();
    if (broken.empty()) broken = host->readParams();
    if (!broken.empty()) {
        error = path + ": " + name + ": " + broken;
        return nullptr;  // the destructor destroys the plug-in and unloads
    }
    return host;
}

// The audio ports of both directions; a sentence when they are absurd.
std::string ClapHost::readPorts() {
    ports_[0].clear();
    ports_[1].clear();
    if (!portsExt_) return {};
    for (bool input : {true, false}) {
        uint32_t count = 0;
        {
            PluginCall call("audio_ports.count");
            count = portsExt_->count(plugin_, input);
        }
        const std::string side = input ? "input" : "output";
        if (count > kClapMaxPorts)
            return "its audio-ports count answers " + std::to_string(count) + " " + side +
                   " ports, more than kv23 takes (" + std::to_string(kClapMaxPorts) + ")";
        for (uint32_t i = 0; i < count; ++i) {
            clap_audio_port_info_t info{};
            bool got = false;
            {
                PluginCall call("audio_ports.get");
                got = portsExt_->get(plugin_, i, input, &info);
            }
            if (!got)
                return "its audio-ports get answers false for " + side + " port " +
                       std::to_string(i) + " of " + std::to_string(count);
            if (info.channel_count > kClapMaxChannels)
                return "its " + side + " port " + std::to_string(i) + " has " +
                       std::to_string(info.channel_count) + " channels, more than kv23 takes (" +
                       std::to_string(kClapMaxChannels) + ")";
            ports_[input ? 0 : 1].push_back(info);
        }
    }
    return {};
}

std::string ClapHost::readParams() {
    params_.clear();
    if (!paramsExt_) return {};
    uint32_t count = 0;
    {
        PluginCall call("params.count");
        count = paramsExt_->count(plugin_);
    }
    if (count > kClapMaxParams)
        return "its params.count answers " + std::to_string(count) +
               ", more parameters than any host lists (kv23 takes at most " +
               std::to_string(kClapMaxParams) + ")";
    PluginCall call("params.get_info");
    for (uint32_t i = 0; i < count; ++i) {
        clap_param_info_t info{};
        if (paramsExt_->get_info(plugin_, i, &info)) params_.push_back(info);
    }
    return {};
}

void ClapHost::destroyPlugin() {
    if (!plugin_) return;
    stop();
    const clap_plugin_t* p = plugin_;
    plugin_ = nullptr;
    paramsExt_ = nullptr;
    portsExt_ = nullptr;
    stateExt_ = nullptr;
    guiExt_ = nullptr;
    timerExt_ = nullptr;
    timers_.clear();
    p->destroy(p);
}

ClapHost::~ClapHost() {
    if (plugin_) {
        stop();
        plugin_->destroy(plugin_);
    }
    if (entryInitialised_ && entry_ && entry_->deinit) entry_->deinit();
    if (library_) dlclose(library_);
}

uint32_t ClapHost::channels(bool input) const {
    const auto& ports = ports_[input ? 0 : 1];
    return ports.empty() ? 0 : ports.front().channel_count;
}

std::optional<clap_id> ClapHost::findParam(const std::string& idOrName) const {
    for (const auto& p : params_) {
        if (idOrName == p.name || idOrName == std::to_string(p.id)) return p.id;
    }
    return std::nullopt;
}

const clap_param_info_t* ClapHost::paramInfo(clap_id id) const {
    for (const auto& p : params_) {
        if (p.id == id) return &p;
    }
    return nullptr;
}

std::optional<double> ClapHost::value(clap_id id) const {
    double v = 0.0;
    if (paramsExt_ && paramsExt_->get_value(plugin_, id, &v)) return v;
    return std::nullopt;
}

std::string ClapHost::valueText(clap_id id, double v) const {
    char text[256] = {};
    if (!paramsExt_ || !paramsExt_->value_to_text(plugin_, id, v, text, sizeof text - 1)) return "";
    return text;
}

bool ClapHost::start(double rate, uint32_t maxFrames) {
    if (processing_) return true;
    if (!activate(rate, maxFrames)) {
        refusal_ = "its activate at " + std::to_string(static_cast<long>(rate)) +
                   " Hz with blocks of up to " + std::to_string(maxFrames) +
                   " frames answered false";
        return false;
    }
    if (!startProcessing()) {
        refusal_ = "its start_processing answered false (activate had answered true)";
        deactivate();
        return false;
    }
    refusal_.clear();
    return true;
}

void ClapHost::stop() {
    stopProcessing();
    deactivate();
}

bool ClapHost::activate(double rate, uint32_t maxFrames) {
    if (active_) return true;
    // The ports may change while the plug-in is inactive.
    if (std::string bad = readPorts(); !bad.empty()) {
        noteFault(bad);
        return false;
    }
    if (!plugin_) return false;
    active_ = plugin_->activate(plugin_, rate, 1, maxFrames);
    if (active_) {
        prepareExtraPorts<float>(maxFrames);
        prepareExtraPorts<double>(maxFrames);
    }
    return active_;
}

void ClapHost::reset() {
    if (!plugin_) return;
    AudioThread audio;
    plugin_->reset(plugin_);
}

bool ClapHost::startProcessing() {
    if (!active_) return false;
    if (processing_) return true;
    AudioThread audio;
    processing_ = plugin_->start_processing(plugin_);
    return processing_;
}

void ClapHost::stopProcessing() {
    if (!processing_) return;
    AudioThread audio;
    plugin_->stop_processing(plugin_);
    processing_ = false;
}

void ClapHost::deactivate() {
    if (!active_) return;
    stopProcessing();
    plugin_->deactivate(plugin_);
    active_ = false;
}

bool ClapHost::flush(const std::vector<ClapParamChange>& changes) {
    if (!paramsExt_ || !paramsExt_->flush) return false;
    EventList events;
    for (const auto& c : changes)
        events.events.push_back(valueEvent(0, c.id, c.value, paramInfo(c.id)));
    flushRequested_ = false;
    std::optional<AudioThread> audio;
    if (active_) audio.emplace();
    pushes_ = 0;
    paramsExt_->flush(plugin_, &events.list, &output_);
    return true;
}

int ClapHost::idle() {
    using Clock = std::chrono::steady_clock;
    if (const uint64_t size = pendingResize_.exchange(0); size != 0 && listener_)
        listener_->requestResize(static_cast<uint32_t>(size >> 32),
                                 static_cast<uint32_t>(size & 0xFFFFFFFFu));
    if (callbackRequested_.exchange(false) && plugin_) plugin_->on_main_thread(plugin_);
    // While active, process drains what the plug-in has to say; a flush
    // then would belong on the audio thread.
    if (flushRequested_ && !active_) flush();
    auto now = Clock::now();
    // By id, not by position: a timer may unregister timers, its own too.
    for (size_t i = 0; i < timers_.size(); ++i) {
        if (now < timers_[i].next) continue;
        const clap_id id = timers_[i].id;
        timers_[i].next = now + std::chrono::milliseconds(timers_[i].periodMs);
        if (timerExt_) timerExt_->on_timer(plugin_, id);
        if (!plugin_) break;  // destroyed by the host from inside the call
        const auto after = Clock::now();
        longestTimerMs_ = std::max(longestTimerMs_,
                                   std::chrono::duration<double, std::milli>(after - now).count());
        now = after;
    }
    long wait = 50;
    for (const Timer& t : timers_) {
        wait = std::min<long>(
            wait, std::chrono::duration_cast<std::chrono::milliseconds>(t.next - now).count());
    }
    return static_cast<int>(std::max<long>(wait, 0));
}

int ClapHost::tick() {
    const auto now = std::chrono::steady_clock::now();
    for (Timer& t : timers_)
        t.next = now;
    return idle();
}

void ClapHost::fireTimers() {
    std::vector<clap_id> ids;
    for (const Timer& t : timers_)
        ids.push_back(t.id);
    for (clap_id id : ids) {
        if (timerExt_) timerExt_->on_timer(plugin_, id);
    }
}

bool ClapHost::supports64() const {
    if (ports_[0].empty() && ports_[1].empty()) return false;
    for (const auto& side : ports_) {
        for (const clap_audio_port_info_t& info : side) {
            if ((info.flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS) == 0) return false;
        }
    }
    return true;
}

// Every port after the first gets buffers of its own: silence for an input
// (a side-chain nobody feeds), room for an output nobody reads. CLAP has
// the host pass every port the plug-in declares.
template <typename T>
void ClapHost::prepareExtraPorts(uint32_t frames) {
    auto& store = [this]() -> auto& {
        if constexpr (sizeof(T) == sizeof(float))
            return extra32_;
        else
            return extra64_;
    }
    ();
    auto& pointers = [this]() -> auto& {
        if constexpr (sizeof(T) == sizeof(float))
            return extraPointers32_;
        else
            return extraPointers64_;
    }
    ();
    store.clear();
    pointers.clear();
    for (const auto& side : ports_) {
        for (size_t i = 1; i < side.size(); ++i) {
            for (uint32_t c = 0; c < side[i].channel_count; ++c)
                store.emplace_back(frames, T{0});
        }
    }
    for (auto& channel : store)
        pointers.push_back(channel.data());
}

bool ClapHost::process(float** in, float** out, uint32_t frames, int64_t offset,
                       const std::vector<ClapParamChange>& changes, bool keepOrder) {
    return processAny(in, out, frames, offset, changes, keepOrder);
}

bool ClapHost::process(double** in, double** out, uint32_t frames, int64_t offset,
                       const std::vector<ClapParamChange>& changes, bool keepOrder) {
    return processAny(in, out, frames, offset, changes, keepOrder);
}

template <typename T>
bool ClapHost::processAny(T** in, T** out, uint32_t frames, int64_t offset,
                          const std::vector<ClapParamChange>& changes, bool keepOrder) {
    EventList events;
    for (const auto& c : changes) {
        if (c.frame < offset || c.frame >= offset + frames) continue;
        events.events.push_back(
            valueEvent(static_cast<uint32_t>(c.frame - offset), c.id, c.value, paramInfo(c.id)));
    }
    if (!keepOrder) {
        std::stable_sort(
            events.events.begin(), events.events.end(),
            [](const auto& a, const auto& b) { return a.header.time < b.header.time; });
    }
    // The main ports' buffers are the caller's; the others' our own, grown
    // when a block is longer than the activation promised.
    auto& extra = [this]() -> auto& {
        if constexpr (sizeof(T) == sizeof(float))
            return extra32_;
        else
            return extra64_;
    }
    ();
    if (!extra.empty() && extra.front().size() < frames) prepareExtraPorts<T>(frames);
    T** extraPointers = nullptr;
    if constexpr (sizeof(T) == sizeof(float))
        extraPointers = extraPointers32_.data();
    else
        extraPointers = extraPointers64_.data();
    size_t next = 0;
    for (int side = 0; side < 2; ++side) {
        auto& buffers = side == 0 ? inBuffers_ : outBuffers_;
        buffers.assign(ports_[side].size(), clap_audio_buffer_t{});
        for (size_t i = 0; i < ports_[side].size(); ++i) {
            clap_audio_buffer_t& b = buffers[i];
            b.channel_count = ports_[side][i].channel_count;
            T** data = i == 0 ? (side == 0 ? in : out) : extraPointers + next;
            if (i > 0) {
                next += b.channel_count;
                // A side-chain input hears silence, whatever the plug-in
                // left in it last time.
                for (uint32_t c = 0; side == 0 && c < b.channel_count; ++c)
                    std::fill_n(data[c], frames, T{0});
            }
            if constexpr (sizeof(T) == sizeof(float))
                b.data32 = data;
            else
                b.data64 = data;
        }
    }
    clap_process_t p{};
    p.steady_time = steadyTime_;
    p.frames_count = frames;
    p.audio_inputs = inBuffers_.empty() ? nullptr : inBuffers_.data();
    p.audio_outputs = outBuffers_.empty() ? nullptr : outBuffers_.data();
    p.audio_inputs_count = static_cast<uint32_t>(inBuffers_.size());
    p.audio_outputs_count = static_cast<uint32_t>(outBuffers_.size());
    p.in_events = &events.list;
    p.out_events = &output_;
    steadyTime_ += frames;
    AudioThread audio;
    pushes_ = 0;
    return plugin_ && plugin_->process(plugin_, &p) != CLAP_PROCESS_ERROR;
}

std::optional<std::vector<uint8_t>> ClapHost::saveState() {
    if (!stateExt_) return std::nullopt;
    struct Writer {
        std::vector<uint8_t> bytes;
        bool tooLong = false;
    } writer;
    clap_ostream_t stream{&writer,
                          [](const clap_ostream_t* s, const void* data, uint64_t size) -> int64_t {
                              auto& w = *static_cast<Writer*>(s->ctx);
                              // A state without end is refused, not held.
                              if (size > kClapMaxStateBytes - w.bytes.size()) {
                                  w.tooLong = true;
                                  return -1;
                              }
                              const auto* p = static_cast<const uint8_t*>(data);
                              w.bytes.insert(w.bytes.end(), p, p + size);
                              return static_cast<int64_t>(size);
                          }};
    bool saved = false;
    {
        PluginCall call("state.save");
        saved = stateExt_->save(plugin_, &stream);
    }
    if (writer.tooLong) {
        noteFault("the plug-in's state.save wrote more than " +
                  std::to_string(kClapMaxStateBytes >> 20) +
                  " MiB and went on after kv23's stream refused more");
        return std::nullopt;
    }
    if (!saved) return std::nullopt;
    return std::move(writer.bytes);
}

bool ClapHost::loadState(const std::vector<uint8_t>& bytes) const {
    if (!stateExt_) return false;
    struct Reader {
        const std::vector<uint8_t>& bytes;
        size_t pos = 0;
    } reader{bytes};
    clap_istream_t stream{&reader,
                          [](const clap_istream_t* s, void* data, uint64_t size) -> int64_t {
                              auto& r = *static_cast<Reader*>(s->ctx);
                              const size_t n = std::min<size_t>(size, r.bytes.size() - r.pos);
                              if (n > 0) std::memcpy(data, r.bytes.data() + r.pos, n);
                              r.pos += n;
                              return static_cast<int64_t>(n);
                          }};
    return stateExt_->load(plugin_, &stream);
}

}  // namespace kv::host
