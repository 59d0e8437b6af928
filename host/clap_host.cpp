#include "host/clap_host.h"

#include <clap/plugin-factory.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace kv::host {

namespace {

// What kv23 offers a plug-in: nothing beyond the host record itself.
const void* hostExtension(const clap_host_t*, const char*) {
    return nullptr;
}
void hostRequest(const clap_host_t*) {}

const clap_host_t kHost = {
    CLAP_VERSION_INIT, nullptr,       "kv23",      "Harrow Quill", "",
    KV_VERSION,        hostExtension, hostRequest, hostRequest,    hostRequest};

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

bool discard(const clap_output_events_t*, const clap_event_header_t*) {
    return true;
}
const clap_output_events_t kNoOutput = {nullptr, discard};

}  // namespace

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
    host->plugin_ = factory->create_plugin(factory, &kHost, d->id);
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
    if (host->paramsExt_) {
        const uint32_t count = host->paramsExt_->count(p);
        for (uint32_t i = 0; i < count; ++i) {
            clap_param_info_t info{};
            if (host->paramsExt_->get_info(p, i, &info)) host->params_.push_back(info);
        }
    }
    return host;
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
    if (active_) return true;
    if (!plugin_->activate(plugin_, rate, 1, maxFrames)) return false;
    active_ = true;
    if (!plugin_->start_processing(plugin_)) {
        stop();
        return false;
    }
    return true;
}

void ClapHost::stop() {
    if (!active_) return;
    plugin_->stop_processing(plugin_);
    plugin_->deactivate(plugin_);
    active_ = false;
}

bool ClapHost::process(float** in, float** out, uint32_t frames, int64_t offset,
                       const std::vector<ClapParamChange>& changes, bool keepOrder) {
    EventList events;
    for (const auto& c : changes) {
        if (c.frame < offset || c.frame >= offset + frames) continue;
        clap_event_param_value_t e{};
        e.header = {sizeof e, static_cast<uint32_t>(c.frame - offset), CLAP_CORE_EVENT_SPACE_ID,
                    CLAP_EVENT_PARAM_VALUE, 0};
        e.param_id = c.id;
        const clap_param_info_t* info = paramInfo(c.id);
        e.cookie = info ? info->cookie : nullptr;
        e.note_id = -1;
        e.port_index = e.channel = e.key = -1;
        e.value = c.value;
        events.events.push_back(e);
    }
    if (!keepOrder) {
        std::stable_sort(
            events.events.begin(), events.events.end(),
            [](const auto& a, const auto& b) { return a.header.time < b.header.time; });
    }
    clap_audio_buffer_t inBuffer{in, nullptr, inputChannels(), 0, 0};
    clap_audio_buffer_t outBuffer{out, nullptr, outputChannels(), 0, 0};
    clap_process_t p{};
    p.steady_time = steadyTime_;
    p.frames_count = frames;
    p.audio_inputs = &inBuffer;
    p.audio_outputs = &outBuffer;
    p.audio_inputs_count = inBuffer.channel_count ? 1 : 0;
    p.audio_outputs_count = outBuffer.channel_count ? 1 : 0;
    p.in_events = &events.list;
    p.out_events = &kNoOutput;
    steadyTime_ += frames;
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
