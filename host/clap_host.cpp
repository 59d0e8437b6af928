#include "host/clap_host.h"

#include <clap/ext/latency.h>
#include <clap/ext/thread-check.h>
#include <clap/plugin-factory.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>

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
    static void requestRestart(const clap_host_t*) {}
    static void requestProcess(const clap_host_t*) {}
    static void requestCallback(const clap_host_t* h) { of(h).callbackRequested_ = true; }

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
    static void requestFlush(const clap_host_t* h) { of(h).flushRequested_ = true; }

    // latency: kv23 renders offline and compensates nothing; what it owes
    // the plug-in is to hear the change on the main thread.
    static void latencyChanged(const clap_host_t* h) {
        ClapHost& c = of(h);
        if (!c.onMainThread()) c.noteMisuse("latency.changed off the main thread");
    }

    static bool isMainThread(const clap_host_t* h) { return of(h).onMainThread(); }
    static bool isAudioThread(const clap_host_t*) { return audioDepth > 0; }

    static bool push(const clap_output_events_t* out, const clap_event_header_t* event) {
        if (!event) return false;
        static_cast<ClapHost*>(out->ctx)->deliver(*event);
        return true;
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

void ClapHost::deliver(const clap_event_header_t& event) {
    if (listener_) listener_->outputEvent(event);
}

bool isClapFile(const std::string& path) {
    return path.size() > 5 && path.compare(path.size() - 5, 5, ".clap") == 0;
}

std::unique_ptr<ClapHost> ClapHost::load(const std::string& path, std::string& error) {
    std::unique_ptr<ClapHost> host(new ClapHost);
    // dlopen searches the library path for a name without a slash: a file
    // named on the command line is meant as it stands.
    std::error_code ignored;
    host->path_ = std::filesystem::absolute(path, ignored).string();
    host->library_ = dlopen(host->path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!host->library_) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why ? why : "unknown error") +
                " (is it a CLAP plug-in for this machine?)";
        return nullptr;
    }
    host->entry_ = static_cast<const clap_plugin_entry_t*>(dlsym(host->library_, "clap_entry"));
    if (!host->entry_) {
        error = path + " has no clap_entry: it is not a CLAP plug-in";
        return nullptr;
    }
    if (!clap_version_is_compatible(host->entry_->clap_version)) {
        error = path + " is made for CLAP " + std::to_string(host->entry_->clap_version.major) +
                ", which kv23 (CLAP 1) cannot host";
        return nullptr;
    }
    if (!host->entry_->init || !host->entry_->init(path.c_str())) {
        error = path + ": its clap_entry.init failed";
        return nullptr;
    }
    host->entryInitialised_ = true;
    const auto* factory = static_cast<const clap_plugin_factory_t*>(
        host->entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
    if (!factory || factory->get_plugin_count(factory) == 0) {
        error = path + " offers no plug-in factory, or a factory with no plug-in";
        return nullptr;
    }
    const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, 0);
    if (!d || !d->id) {
        error = path + ": the factory's first plug-in has no descriptor or no id";
        return nullptr;
    }
    host->plugin_ = factory->create_plugin(factory, &host->host_, d->id);
    if (!host->plugin_) {
        error = path + ": the factory could not create " + d->id;
        return nullptr;
    }
    if (!host->plugin_->init(host->plugin_)) {
        host->plugin_->destroy(host->plugin_);
        host->plugin_ = nullptr;
        error = path + ": " + d->id + " failed its init";
        return nullptr;
    }
    const clap_plugin_t* p = host->plugin_;
    host->paramsExt_ =
        static_cast<const clap_plugin_params_t*>(p->get_extension(p, CLAP_EXT_PARAMS));
    host->portsExt_ =
        static_cast<const clap_plugin_audio_ports_t*>(p->get_extension(p, CLAP_EXT_AUDIO_PORTS));
    host->stateExt_ = static_cast<const clap_plugin_state_t*>(p->get_extension(p, CLAP_EXT_STATE));
    host->guiExt_ = static_cast<const clap_plugin_gui_t*>(p->get_extension(p, CLAP_EXT_GUI));
    host->timerExt_ = static_cast<const clap_plugin_timer_support_t*>(
        p->get_extension(p, CLAP_EXT_TIMER_SUPPORT));
    host->readParams();
    return host;
}

void ClapHost::readParams() {
    params_.clear();
    if (!paramsExt_) return;
    const uint32_t count = paramsExt_->count(plugin_);
    for (uint32_t i = 0; i < count; ++i) {
        clap_param_info_t info{};
        if (paramsExt_->get_info(plugin_, i, &info)) params_.push_back(info);
    }
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
    if (!portsExt_ || portsExt_->count(plugin_, input) == 0) return 0;
    clap_audio_port_info_t info{};
    return portsExt_->get(plugin_, 0, input, &info) ? info.channel_count : 0;
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
    if (!activate(rate, maxFrames)) return false;
    if (!startProcessing()) {
        deactivate();
        return false;
    }
    return true;
}

void ClapHost::stop() {
    stopProcessing();
    deactivate();
}

bool ClapHost::activate(double rate, uint32_t maxFrames) {
    if (active_) return true;
    active_ = plugin_->activate(plugin_, rate, 1, maxFrames);
    return active_;
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
    paramsExt_->flush(plugin_, &events.list, &output_);
    return true;
}

int ClapHost::idle() {
    using Clock = std::chrono::steady_clock;
    if (const uint64_t size = pendingResize_.exchange(0); size != 0 && listener_)
        listener_->requestResize(static_cast<uint32_t>(size >> 32),
                                 static_cast<uint32_t>(size & 0xFFFFFFFFu));
    if (callbackRequested_.exchange(false)) plugin_->on_main_thread(plugin_);
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
        now = Clock::now();
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
    if (!portsExt_) return false;
    for (bool input : {true, false}) {
        if (portsExt_->count(plugin_, input) == 0) continue;
        clap_audio_port_info_t info{};
        if (!portsExt_->get(plugin_, 0, input, &info) ||
            (info.flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS) == 0)
            return false;
    }
    return true;
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
    clap_audio_buffer_t inBuffer{nullptr, nullptr, inputChannels(), 0, 0};
    clap_audio_buffer_t outBuffer{nullptr, nullptr, outputChannels(), 0, 0};
    if constexpr (sizeof(T) == sizeof(float)) {
        inBuffer.data32 = in;
        outBuffer.data32 = out;
    } else {
        inBuffer.data64 = in;
        outBuffer.data64 = out;
    }
    clap_process_t p{};
    p.steady_time = steadyTime_;
    p.frames_count = frames;
    p.audio_inputs = &inBuffer;
    p.audio_outputs = &outBuffer;
    p.audio_inputs_count = inBuffer.channel_count ? 1 : 0;
    p.audio_outputs_count = outBuffer.channel_count ? 1 : 0;
    p.in_events = &events.list;
    p.out_events = &output_;
    steadyTime_ += frames;
    AudioThread audio;
    return plugin_->process(plugin_, &p) != CLAP_PROCESS_ERROR;
}

std::optional<std::vector<uint8_t>> ClapHost::saveState() const {
    if (!stateExt_) return std::nullopt;
    std::vector<uint8_t> bytes;
    clap_ostream_t stream{&bytes,
                          [](const clap_ostream_t* s, const void* data, uint64_t size) -> int64_t {
                              auto* out = static_cast<std::vector<uint8_t>*>(s->ctx);
                              const auto* p = static_cast<const uint8_t*>(data);
                              out->insert(out->end(), p, p + size);
                              return static_cast<int64_t>(size);
                          }};
    if (!stateExt_->save(plugin_, &stream)) return std::nullopt;
    return bytes;
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
