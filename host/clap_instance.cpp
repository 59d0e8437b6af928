#include "host/clap_instance.h"

#include <clap/ext/params.h>

#include <cmath>
#include <cstring>

namespace kv::host {

ClapInstance::ClapInstance(std::unique_ptr<ClapHost> host) : host_(std::move(host)) {
    host_->setListener(this);
    for (const clap_param_info_t& info : host_->params()) {
        ParameterInfo p;
        p.id = info.id;
        p.name = std::string(info.name, strnlen(info.name, sizeof info.name));
        p.min = info.min_value;
        p.max = info.max_value;
        p.defaultValue = info.default_value;
        p.stepped = (info.flags & CLAP_PARAM_IS_STEPPED) != 0;
        p.automatable = (info.flags & CLAP_PARAM_IS_AUTOMATABLE) != 0;
        p.readOnly = (info.flags & CLAP_PARAM_IS_READONLY) != 0;
        params_.push_back(std::move(p));
    }
    gui_ = host_->gui();
    if (gui_ && !gui_->is_api_supported(host_->plugin(), CLAP_WINDOW_API_X11, false))
        gui_ = nullptr;
}

ClapInstance::~ClapInstance() {
    closeEditor();
    host_->stop();
    host_->setListener(nullptr);
}

PluginIdentity ClapInstance::identity() const {
    const ClapDescriptor& d = host_->descriptor();
    PluginIdentity id;
    id.format = PluginFormat::Clap;
    id.name = d.name;
    id.vendor = d.vendor;
    id.version = d.version;
    id.id = d.id;
    return id;
}

Capabilities ClapInstance::capabilities() const {
    Capabilities c;
    c.sampleAccurate = true;
    c.doublePrecision = host_->supports64();
    c.valuesFromAnyThread = false;
    c.textsForAnyValue = true;
    const clap_plugin_t* p = host_->plugin();
    c.state = p && p->get_extension(p, CLAP_EXT_STATE) != nullptr;
    c.editor = gui_ != nullptr;
    return c;
}

std::optional<uint32_t> ClapInstance::indexOf(clap_id id) const {
    for (size_t i = 0; i < params_.size(); ++i) {
        if (params_[i].id == id) return static_cast<uint32_t>(i);
    }
    return std::nullopt;
}

void ClapInstance::setValue(uint32_t index, double value) {
    if (index >= params_.size() || params_[index].readOnly) return;
    const ClapParamChange change{0, params_[index].id, value};
    if (!host_->active()) {
        host_->flush({change});
        return;
    }
    std::lock_guard<std::mutex> lock(audio_);
    if (!host_->flush({change})) pending_.push_back(change);
}

double ClapInstance::value(uint32_t index) {
    if (index >= params_.size()) return std::nan("");
    return host_->value(params_[index].id).value_or(std::nan(""));
}

std::optional<std::string> ClapInstance::valueText(uint32_t index, double value) {
    if (index >= params_.size()) return std::nullopt;
    std::string text = host_->valueText(params_[index].id, value);
    if (text.empty()) return std::nullopt;
    return text;
}

std::optional<double> ClapInstance::textToValue(uint32_t index, const std::string& text) {
    if (index >= params_.size() || !host_->plugin()) return std::nullopt;
    const auto* params = static_cast<const clap_plugin_params_t*>(
        host_->plugin()->get_extension(host_->plugin(), CLAP_EXT_PARAMS));
    double v = 0.0;
    if (!params || !params->text_to_value ||
        !params->text_to_value(host_->plugin(), params_[index].id, text.c_str(), &v))
        return std::nullopt;
    return v;
}

bool ClapInstance::start(double rate, uint32_t maxFrames) {
    stop();
    return host_->start(rate, maxFrames);
}

void ClapInstance::stop() {
    std::lock_guard<std::mutex> lock(audio_);
    host_->stop();
}

const std::vector<ClapParamChange>& ClapInstance::eventsFor(std::span<const ParamChange> changes) {
    block_.clear();
    block_.swap(pending_);
    for (const ParamChange& c : changes) {
        if (c.index < params_.size() && !params_[c.index].readOnly)
            block_.push_back({c.frame, params_[c.index].id, c.value});
    }
    return block_;
}

template <typename T>
bool ClapInstance::processAny(T** in, T** out, uint32_t frames,
                              std::span<const ParamChange> changes) {
    std::lock_guard<std::mutex> lock(audio_);
    if (!host_->active()) return false;
    return host_->process(in, out, frames, 0, eventsFor(changes));
}

bool ClapInstance::process(float** in, float** out, uint32_t frames,
                           std::span<const ParamChange> changes) {
    return processAny(in, out, frames, changes);
}

bool ClapInstance::process(double** in, double** out, uint32_t frames,
                           std::span<const ParamChange> changes) {
    if (!host_->supports64()) return false;
    return processAny(in, out, frames, changes);
}

std::optional<std::vector<uint8_t>> ClapInstance::saveState() {
    return host_->saveState();
}

bool ClapInstance::loadState(std::span<const uint8_t> bytes) {
    return host_->loadState(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

bool ClapInstance::openEditor(unsigned long parent, double scale) {
    if (!gui_ || created_) return false;
    if (!gui_->create(host_->plugin(), CLAP_WINDOW_API_X11, false)) return false;
    created_ = true;
    if (scale > 0.0) gui_->set_scale(host_->plugin(), scale);
    clap_window_t window{};
    window.api = CLAP_WINDOW_API_X11;
    window.x11 = parent;
    if (!gui_->set_parent(host_->plugin(), &window)) {
        closeEditor();
        return false;
    }
    gui_->show(host_->plugin());
    return true;
}

bool ClapInstance::editorSize(int& width, int& height) {
    uint32_t w = 0, h = 0;
    const bool known = gui_ && created_ && gui_->get_size(host_->plugin(), &w, &h);
    width = known ? static_cast<int>(w) : 0;
    height = known ? static_cast<int>(h) : 0;
    return width > 0 && height > 0;
}

bool ClapInstance::setEditorScale(double scale) {
    return gui_ && created_ && gui_->set_scale(host_->plugin(), scale);
}

void ClapInstance::idle() {
    host_->tick();
}

void ClapInstance::closeEditor() {
    if (!created_) return;
    created_ = false;
    gui_->hide(host_->plugin());
    gui_->destroy(host_->plugin());
}

void ClapInstance::closeInstance() {
    created_ = false;  // the panel goes with the plug-in
    gui_ = nullptr;
    const std::lock_guard<std::mutex> lock(audio_);
    host_->destroyPlugin();
}

std::vector<std::string> ClapInstance::actingCalls() const {
    // The panel's gestures and values arrive as output events inside the
    // host's flush; the requests come from the plug-in's own calls.
    return {"params.request_flush", "gesture begin", "gesture end", "param value",
            "gui.request_resize"};
}

void ClapInstance::hostCalled(const char* name) {
    if (InstanceListener* l = listener()) l->hostCall(name);
}

void ClapInstance::outputEvent(const clap_event_header_t& event) {
    InstanceListener* l = listener();
    if (l == nullptr || event.space_id != CLAP_CORE_EVENT_SPACE_ID) return;
    if ((event.type == CLAP_EVENT_PARAM_GESTURE_BEGIN ||
         event.type == CLAP_EVENT_PARAM_GESTURE_END) &&
        event.size >= sizeof(clap_event_param_gesture_t)) {
        const auto& g = reinterpret_cast<const clap_event_param_gesture_t&>(event);
        if (const auto index = indexOf(g.param_id)) {
            if (event.type == CLAP_EVENT_PARAM_GESTURE_BEGIN)
                l->gestureBegin(*index);
            else
                l->gestureEnd(*index);
        }
    } else if (event.type == CLAP_EVENT_PARAM_VALUE &&
               event.size >= sizeof(clap_event_param_value_t)) {
        const auto& v = reinterpret_cast<const clap_event_param_value_t&>(event);
        if (const auto index = indexOf(v.param_id)) l->valueChanged(*index, v.value);
    }
}

bool ClapInstance::requestResize(uint32_t width, uint32_t height) {
    InstanceListener* l = listener();
    return l && l->resizeRequested(static_cast<int>(width), static_cast<int>(height));
}

}  // namespace kv::host
