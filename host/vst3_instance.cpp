#include "host/vst3_instance.h"

#include <cmath>

namespace kv::host {

Vst3Instance::Vst3Instance(std::unique_ptr<Vst3Host> host)
    : host_(std::move(host)), mainThread_(std::this_thread::get_id()) {
    host_->setEvents(this);
    for (const Vst3ParamInfo& info : host_->params()) {
        ParameterInfo p;
        p.id = info.id;
        p.name = info.title;
        p.unit = info.units;
        p.min = host_->plainOf(info.id, 0.0);
        p.max = host_->plainOf(info.id, 1.0);
        p.defaultValue = host_->plainOf(info.id, info.defaultNormalised);
        p.stepped = info.stepCount > 0;
        p.automatable = (info.flags & V3_PARAM_CAN_AUTOMATE) != 0;
        p.readOnly = (info.flags & V3_PARAM_READ_ONLY) != 0;
        params_.push_back(std::move(p));
    }
}

Vst3Instance::~Vst3Instance() {
    host_->closeView();
    if (!closed_) stop();
    host_->setEvents(nullptr);
}

PluginIdentity Vst3Instance::identity() const {
    const Vst3ClassRecord& r = host_->record();
    PluginIdentity id;
    id.format = PluginFormat::Vst3;
    id.name = r.name;
    id.vendor = r.vendor;
    id.version = r.version;
    id.id = r.cid;
    return id;
}

Capabilities Vst3Instance::capabilities() const {
    Capabilities c;
    c.sampleAccurate = true;
    c.singlePrecision = host_->canProcess(V3_SAMPLE_32);
    c.doublePrecision = host_->canProcess(V3_SAMPLE_64);
    c.valuesFromAnyThread = false;
    c.textsForAnyValue = true;
    c.state = true;
    // Whether a view comes is known only by asking for one.
    c.editor = true;
    return c;
}

std::optional<uint32_t> Vst3Instance::indexOf(v3_param_id id) const {
    for (size_t i = 0; i < params_.size(); ++i) {
        if (params_[i].id == id) return static_cast<uint32_t>(i);
    }
    return std::nullopt;
}

void Vst3Instance::setValue(uint32_t index, double value) {
    if (closed_) return;
    if (index >= params_.size() || params_[index].readOnly) return;
    const v3_param_id id = params_[index].id;
    const double n = host_->normalisedOf(id, value);
    // Outside the lock: a plug-in may answer a value with an edit of its own.
    const bool main = onMainThread();
    if (main) host_->setNormalised(id, n);
    std::lock_guard<std::mutex> lock(audio_);
    if (!main) controller_.push_back({0, id, n});
    pending_.push_back({0, id, n});
}

double Vst3Instance::value(uint32_t index) {
    if (closed_) return std::nan("");
    if (index >= params_.size()) return std::nan("");
    const v3_param_id id = params_[index].id;
    return host_->plainOf(id, host_->normalised(id));
}

std::optional<std::string> Vst3Instance::valueText(uint32_t index, double value) {
    if (closed_) return std::nullopt;
    if (index >= params_.size()) return std::nullopt;
    const v3_param_id id = params_[index].id;
    auto text = host_->text(id, host_->normalisedOf(id, value));
    if (!text || text->empty()) return std::nullopt;
    const std::string& unit = params_[index].unit;
    if (!unit.empty() && text->find(unit) == std::string::npos) *text += " " + unit;
    return text;
}

std::optional<double> Vst3Instance::textToValue(uint32_t index, const std::string& text) {
    if (closed_) return std::nullopt;
    if (index >= params_.size()) return std::nullopt;
    const v3_param_id id = params_[index].id;
    const auto n = host_->fromText(id, text);
    if (!n) return std::nullopt;
    return host_->plainOf(id, *n);
}

bool Vst3Instance::start(double rate, uint32_t maxFrames) {
    if (closed_) return false;
    stop();
    std::lock_guard<std::mutex> lock(audio_);
    processed_ = false;
    block_.reserve(params_.size() + 256);
    const size_t ins = host_->mainChannels(true), outs = host_->mainChannels(false);
    scratch32_.assign(ins + outs, std::vector<float>(maxFrames));
    scratch64_.assign(ins + outs, std::vector<double>(maxFrames));
    in32_.clear(), out32_.clear(), in64_.clear(), out64_.clear();
    for (size_t c = 0; c < ins + outs; ++c) {
        (c < ins ? in32_ : out32_).push_back(scratch32_[c].data());
        (c < ins ? in64_ : out64_).push_back(scratch64_[c].data());
    }
    const int32_t size = host_->canProcess(V3_SAMPLE_32) ? V3_SAMPLE_32 : V3_SAMPLE_64;
    return host_->start(rate, maxFrames, size);
}

void Vst3Instance::stop() {
    std::lock_guard<std::mutex> lock(audio_);
    host_->stop();
}

bool Vst3Instance::ensureSampleSize(int32_t size) {
    if (host_->sampleSize() == size || processed_ || !host_->canProcess(size)) return true;
    return host_->start(host_->rate(), host_->maxFrames(), size);
}

template <typename T, typename U>
bool Vst3Instance::convert(T** in, T** out, uint32_t frames) {
    std::vector<U*>* scratchIn = nullptr;
    std::vector<U*>* scratchOut = nullptr;
    if constexpr (sizeof(U) == 8) {
        scratchIn = &in64_, scratchOut = &out64_;
    } else {
        scratchIn = &in32_, scratchOut = &out32_;
    }
    std::vector<U*>& ins = *scratchIn;
    std::vector<U*>& outs = *scratchOut;
    for (size_t c = 0; c < ins.size(); ++c) {
        for (uint32_t n = 0; n < frames; ++n)
            ins[c][n] = static_cast<U>(in[c][n]);
    }
    const bool ok = host_->process(ins.data(), outs.data(), frames, block_) == V3_OK;
    for (size_t c = 0; c < outs.size(); ++c) {
        for (uint32_t n = 0; n < frames; ++n)
            out[c][n] = static_cast<T>(outs[c][n]);
    }
    return ok;
}

template <typename T>
bool Vst3Instance::processAny(T** in, T** out, uint32_t frames,
                              std::span<const ParamChange> changes) {
    std::lock_guard<std::mutex> lock(audio_);
    if (!host_->active()) return false;
    const int32_t size = sizeof(T) == 8 ? V3_SAMPLE_64 : V3_SAMPLE_32;
    if (frames > 0 && !ensureSampleSize(size)) return false;
    block_.clear();
    block_.swap(pending_);
    for (const ParamChange& c : changes) {
        if (c.index >= params_.size() || params_[c.index].readOnly) continue;
        // Hosts convert automation through the controller on the audio
        // thread too (Ardour does): a plain value is the plug-in's to map.
        const v3_param_id id = params_[c.index].id;
        block_.push_back({static_cast<int32_t>(c.frame), id, host_->normalisedOf(id, c.value)});
    }
    if (frames > host_->maxFrames()) return false;
    processed_ = processed_ || frames > 0;
    if (host_->sampleSize() != size) {
        if constexpr (sizeof(T) == 8)
            return convert<T, float>(in, out, frames);
        else
            return convert<T, double>(in, out, frames);
    }
    return host_->process(in, out, frames, block_) == V3_OK;
}

bool Vst3Instance::process(float** in, float** out, uint32_t frames,
                           std::span<const ParamChange> changes) {
    return processAny(in, out, frames, changes);
}

bool Vst3Instance::process(double** in, double** out, uint32_t frames,
                           std::span<const ParamChange> changes) {
    return processAny(in, out, frames, changes);
}

void Vst3Instance::flushPoints() {
    if (!host_->active()) return;
    std::vector<Vst3Point> sent;
    {
        std::lock_guard<std::mutex> lock(audio_);
        if (pending_.empty()) return;
        sent = pending_;
    }
    // A block of no frames carries the points alone: VST3's parameter flush.
    if (host_->sampleSize() == V3_SAMPLE_64)
        processAny<double>(in64_.data(), out64_.data(), 0, {});
    else
        processAny<float>(in32_.data(), out32_.data(), 0, {});
    // They go again with the next block: a value sent twice is the same
    // value, and a plug-in that reads no points in a flush still hears them.
    std::lock_guard<std::mutex> lock(audio_);
    pending_.insert(pending_.begin(), sent.begin(), sent.end());
}

std::optional<std::vector<uint8_t>> Vst3Instance::saveState() {
    if (closed_) return std::nullopt;
    // The component saves what its processor has heard: values the host set
    // since the last block reach it first, as a host flushes them before
    // it saves a session.
    flushPoints();
    return host_->saveState();
}

bool Vst3Instance::loadState(std::span<const uint8_t> bytes) {
    if (closed_) return false;
    {
        // Values set before the state and not yet sent are older than it.
        std::lock_guard<std::mutex> lock(audio_);
        pending_.clear();
        controller_.clear();
    }
    return host_->loadState(bytes);
}

bool Vst3Instance::openEditor(unsigned long parent, double scale) {
    if (closed_) return false;
    return host_->openView(parent, scale);
}

bool Vst3Instance::editorSize(int& width, int& height) {
    if (closed_) return false;
    return host_->viewSize(width, height);
}

bool Vst3Instance::setEditorScale(double scale) {
    if (closed_) return false;
    return host_->setViewScale(scale);
}

void Vst3Instance::idle() {
    if (closed_) return;
    std::vector<Vst3Point> values;
    {
        std::lock_guard<std::mutex> lock(audio_);
        values.swap(controller_);
    }
    for (const Vst3Point& p : values)
        host_->setNormalised(p.id, p.normalised);
    host_->idle();
}

void Vst3Instance::closeInstance() {
    if (closed_.exchange(true)) return;
    {
        std::lock_guard<std::mutex> lock(audio_);
        host_->stop();
    }
    host_->endInstance();
}

std::vector<std::string> Vst3Instance::actingCalls() const {
    // The panel's edits reach the host through the component handler.
    return {"gesture begin", "gesture end", "param value", "gui.request_resize"};
}

void Vst3Instance::beginEdit(v3_param_id id) {
    if (InstanceListener* l = listener()) {
        if (const auto index = indexOf(id)) l->gestureBegin(*index);
    }
}

void Vst3Instance::performEdit(v3_param_id id, double normalised) {
    // The host's share of an edit: the processor hears the value at its
    // next block, as a host's automation sends it.
    {
        std::lock_guard<std::mutex> lock(audio_);
        pending_.push_back({0, id, normalised});
    }
    if (InstanceListener* l = listener()) {
        if (const auto index = indexOf(id)) l->valueChanged(*index, host_->plainOf(id, normalised));
    }
}

void Vst3Instance::endEdit(v3_param_id id) {
    if (InstanceListener* l = listener()) {
        if (const auto index = indexOf(id)) l->gestureEnd(*index);
    }
}

void Vst3Instance::restartComponent(int32_t flags) {
    if (InstanceListener* l = listener()) l->hostCall("restart_component " + std::to_string(flags));
}

bool Vst3Instance::resizeView(v3_plugin_view** /*view*/, const v3_view_rect& rect) {
    InstanceListener* l = listener();
    return l && l->resizeRequested(rect.right - rect.left, rect.bottom - rect.top);
}

void Vst3Instance::note(const std::string& line) {
    if (InstanceListener* l = listener()) l->hostCall(line);
}

}  // namespace kv::host
