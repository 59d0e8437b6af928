#include "host/vst2_instance.h"

#include <cmath>
#include <cstring>

#include "host/plugin_calls.h"
#include "host/vst2_host.h"

namespace kv::host {

namespace {

void* windowPointer(unsigned long window) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(window));
}

// VST 2 knows only 0 to 1 (a float).
float toVst(double value) {
    return static_cast<float>(value);
}

}  // namespace

Vst2Instance::Vst2Instance(std::unique_ptr<Vst2Host> host) : host_(std::move(host)) {
    host_->setCallbackHook([this](const HostCall& call, void* /*ptr*/) { return heard(call); });
    {
        PluginCall call("effOpen");
        host_->dispatch(effOpen);
    }
    PluginCall call("effGetParamName and the other parameter texts");
    const int32_t count = std::max(host_->numParams(), 0);
    for (int32_t i = 0; i < count; ++i) {
        ParameterInfo p;
        p.id = static_cast<uint32_t>(i);
        p.name = host_->parameterName(i);
        p.unit = host_->parameterLabel(i);
        // A VST 2 plug-in states no default: the value a fresh instance
        // starts with is the one hosts use as it.
        p.defaultValue = static_cast<double>(host_->getParameter(i));
        p.automatable = host_->dispatch(effCanBeAutomated, i) != 0;
        params_.push_back(std::move(p));
    }
}

Vst2Instance::~Vst2Instance() {
    if (editorOpen_) closeEditor();
    host_->setCallbackHook(nullptr);
    host_->close();
}

// Gestures, automation and resize requests reach the listener; everything
// else keeps Vst2Host's answer.
std::optional<intptr_t> Vst2Instance::heard(const HostCall& call) {
    InstanceListener* l = listener();
    if (l == nullptr) return std::nullopt;
    const auto index = static_cast<uint32_t>(call.index);
    switch (call.opcode) {
        case audioMasterBeginEdit:
            l->gestureBegin(index);
            return 1;
        case audioMasterEndEdit:
            l->gestureEnd(index);
            return 1;
        case audioMasterAutomate:
            l->valueChanged(index, static_cast<double>(call.opt));
            return 0;
        case audioMasterSizeWindow:
            return l->resizeRequested(call.index, static_cast<int>(call.value)) ? 1 : 0;
        default:
            l->hostCall(hostOpcodeName(call.opcode));
            return std::nullopt;
    }
}

PluginIdentity Vst2Instance::identity() const {
    PluginIdentity id;
    id.format = PluginFormat::Vst2;
    id.name = host_->getString(effGetEffectName, 0, kVstMaxEffectNameLen);
    if (id.name.empty()) id.name = host_->getString(effGetProductString, 0, kVstMaxProductStrLen);
    id.vendor = host_->getString(effGetVendorString, 0, kVstMaxVendorStrLen);
    id.version = std::to_string(static_cast<long>(host_->dispatch(effGetVendorVersion)));
    id.id = host_->effect() ? fourChars(host_->effect()->uniqueID) : "";
    return id;
}

Capabilities Vst2Instance::capabilities() const {
    if (!host_->effect()) return Capabilities{};  // closed
    const int32_t flags = host_->effect()->flags;
    Capabilities c;
    c.sampleAccurate = false;
    c.singlePrecision =
        (flags & effFlagsCanReplacing) != 0 && host_->effect()->processReplacing != nullptr;
    c.doublePrecision = host_->canDouble();
    c.valuesFromAnyThread = true;
    c.textsForAnyValue = false;
    c.state = (flags & effFlagsProgramChunks) != 0;
    c.editor = (flags & effFlagsHasEditor) != 0;
    return c;
}

void Vst2Instance::setValue(uint32_t index, double value) {
    host_->setParameter(static_cast<int32_t>(index), toVst(value));
}

double Vst2Instance::value(uint32_t index) {
    return static_cast<double>(host_->getParameter(static_cast<int32_t>(index)));
}

std::optional<std::string> Vst2Instance::valueText(uint32_t index, double value) {
    if (index >= params_.size()) return std::nullopt;
    const auto i = static_cast<int32_t>(index);
    if (host_->getParameter(i) != toVst(value)) return std::nullopt;
    std::string text = host_->parameterDisplay(i);
    const std::string label = host_->parameterLabel(i);
    if (!label.empty()) text += " " + label;
    return text;
}

std::optional<double> Vst2Instance::textToValue(uint32_t /*index*/, const std::string& /*text*/) {
    // effString2Parameter sets the parameter rather than reading the text.
    return std::nullopt;
}

bool Vst2Instance::start(double rate, uint32_t maxFrames) {
    stop();
    host_->resume(static_cast<float>(rate), static_cast<int32_t>(maxFrames));
    return true;
}

void Vst2Instance::stop() {
    host_->stop();
}

void Vst2Instance::applyBefore(std::span<const ParamChange> changes) {
    for (const ParamChange& c : changes)
        setValue(c.index, c.value);
}

bool Vst2Instance::process(float** in, float** out, uint32_t frames,
                           std::span<const ParamChange> changes) {
    applyBefore(changes);
    host_->processReplacing(in, out, static_cast<int32_t>(frames));
    return true;
}

bool Vst2Instance::process(double** in, double** out, uint32_t frames,
                           std::span<const ParamChange> changes) {
    if (!host_->canDouble()) return false;
    applyBefore(changes);
    host_->processDoubleReplacing(in, out, static_cast<int32_t>(frames));
    return true;
}

std::optional<std::vector<uint8_t>> Vst2Instance::saveState() {
    if (!capabilities().state) return std::nullopt;
    return host_->getChunk(false);
}

bool Vst2Instance::loadState(std::span<const uint8_t> bytes) {
    if (!capabilities().state) return false;
    // effSetChunk's answer means nothing agreed (plug-ins answer 0 or 1
    // alike, and hosts ignore it): what the plug-in made of the bytes shows
    // in its values.
    host_->setChunk(std::vector<uint8_t>(bytes.begin(), bytes.end()), false);
    return true;
}

bool Vst2Instance::openEditor(unsigned long parent, double scale) {
    if (!capabilities().editor) return false;
    if (scale > 0.0) setEditorScale(scale);
    editorOpen_ = host_->dispatch(effEditOpen, 0, 0, windowPointer(parent)) != 0;
    return editorOpen_;
}

bool Vst2Instance::editorSize(int& width, int& height) {
    ERect* rect = nullptr;
    host_->dispatch(effEditGetRect, 0, 0, &rect);
    width = rect ? rect->right - rect->left : 0;
    height = rect ? rect->bottom - rect->top : 0;
    return width > 0 && height > 0;
}

bool Vst2Instance::setEditorScale(double scale) {
    // The factor as Carla and JUCE hosts send it: effVendorSpecific 'PreS' 'AeCs'.
    return host_->dispatch(effVendorSpecific, kvFourCC('P', 'r', 'e', 'S'),
                           kvFourCC('A', 'e', 'C', 's'), nullptr, static_cast<float>(scale)) != 0;
}

void Vst2Instance::idle() {
    if (editorOpen_) host_->dispatch(effEditIdle);
}

void Vst2Instance::closeInstance() {
    editorOpen_ = false;  // effClose takes the editor with it
    host_->close();
}

std::vector<std::string> Vst2Instance::actingCalls() const {
    return {"audioMasterIdle", "audioMasterBeginEdit", "audioMasterEndEdit", "audioMasterAutomate",
            "audioMasterSizeWindow"};
}

void Vst2Instance::closeEditor() {
    if (!editorOpen_) return;
    editorOpen_ = false;
    host_->dispatch(effEditClose);
}

}  // namespace kv::host
