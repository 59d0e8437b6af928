// The component, its audio processor and its edit controller: the DSP core
// behind VST3's calls. Parameters, texts and state come from dsp/ through
// vst3_params.h and vst3_state.h; the sample-rate rule, the reset and the
// metered block from dsp/opamp_run.h.
#include "vst3/vst3_plugin.h"

#include <travesty/audio_processor.h>
#include <travesty/component.h>

#include <cstring>
#include <new>

#include "vst3/param_points.h"
#include "vst3/vst3_params.h"
#include "vst3/vst3_state.h"
#include "vst3/vst3_text.h"
#include "vst3/vst3_view.h"

namespace kv::vst3 {

namespace {

using namespace kv::opamp;

constexpr v3_speaker_arrangement kStereo = V3_SPEAKER_L | V3_SPEAKER_R;

Plugin& plugin(void* self) {
    return objectOf<Plugin>(self);
}

// --- FUnknown, one count for every interface ---

v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj) {
    if (!obj) return V3_INVALID_ARG;
    *obj = plugin(self).query(iid);
    return *obj ? V3_OK : V3_NO_INTERFACE;
}

uint32_t V3_API ref(void* self) {
    return plugin(self).ref();
}

uint32_t V3_API unref(void* self) {
    return plugin(self).unref();
}

// --- IPluginBase, shared by the component and the controller ---

v3_result V3_API initialize(void* self, v3_funknown** /*context*/) {
    ++plugin(self).initialized;
    return V3_OK;
}

v3_result V3_API terminate(void* self) {
    Plugin& p = plugin(self);
    if (p.initialized == 0) return V3_FALSE;
    // The last terminate lets the host's handler go.
    if (--p.initialized == 0 && p.handler) {
        v3_cpp_obj_unref(p.handler);
        p.handler = nullptr;
    }
    return V3_OK;
}

// --- IComponent ---

// The controller is this object: there is no class to create for it.
v3_result V3_API getControllerClassId(void*, v3_tuid classId) {
    if (classId) std::memset(classId, 0, sizeof(v3_tuid));
    return V3_FALSE;
}

v3_result V3_API setIoMode(void*, int32_t) {
    return V3_NOT_IMPLEMENTED;
}

bool isMainAudioBus(int32_t mediaType, int32_t direction, int32_t index) {
    return mediaType == V3_AUDIO && (direction == V3_INPUT || direction == V3_OUTPUT) && index == 0;
}

int32_t V3_API getBusCount(void*, int32_t mediaType, int32_t direction) {
    return isMainAudioBus(mediaType, direction, 0) ? 1 : 0;
}

v3_result V3_API getBusInfo(void*, int32_t mediaType, int32_t direction, int32_t index,
                            v3_bus_info* info) {
    if (!info || !isMainAudioBus(mediaType, direction, index)) return V3_INVALID_ARG;
    *info = {};
    info->media_type = V3_AUDIO;
    info->direction = direction;
    info->channel_count = 2;
    toUtf16(direction == V3_INPUT ? "In" : "Out", info->bus_name, 128);
    info->bus_type = V3_MAIN;
    info->flags = V3_DEFAULT_ACTIVE;
    return V3_OK;
}

v3_result V3_API getRoutingInfo(void*, v3_routing_info*, v3_routing_info*) {
    return V3_NOT_IMPLEMENTED;
}

v3_result V3_API activateBus(void*, int32_t mediaType, int32_t direction, int32_t index, v3_bool) {
    return isMainAudioBus(mediaType, direction, index) ? V3_OK : V3_INVALID_ARG;
}

// Activation starts from silence, as a new instance does, and fixes the
// latency the host reads.
v3_result V3_API setActive(void* self, v3_bool active) {
    Plugin& p = plugin(self);
    if (active) {
        p.engine.reset();
        p.latencyQuality = p.quality();
        p.latencyStale = false;
    }
    return V3_OK;
}

v3_result V3_API loadState(void* self, v3_bstream** stream) {
    Plugin& p = plugin(self);
    float values[kNumAllParams];
    p.valuesNow(values);
    if (!readState(stream, values)) return V3_FALSE;
    for (int32_t i = 0; i < kNumAllParams; ++i)
        p.values[i].store(values[i], std::memory_order_relaxed);
    p.tellLatency();
    return V3_OK;
}

v3_result V3_API saveState(void* self, v3_bstream** stream) {
    float values[kNumAllParams];
    plugin(self).valuesNow(values);
    return writeState(stream, values) ? V3_OK : V3_FALSE;
}

// --- IAudioProcessor ---

v3_result V3_API setBusArrangements(void*, v3_speaker_arrangement* inputs, int32_t inputCount,
                                    v3_speaker_arrangement* outputs, int32_t outputCount) {
    const bool stereo = inputs && outputs && inputCount == 1 && outputCount == 1 &&
                        inputs[0] == kStereo && outputs[0] == kStereo;
    return stereo ? V3_OK : V3_FALSE;
}

v3_result V3_API getBusArrangement(void*, int32_t direction, int32_t index,
                                   v3_speaker_arrangement* arrangement) {
    if (!arrangement || !isMainAudioBus(V3_AUDIO, direction, index)) return V3_INVALID_ARG;
    *arrangement = kStereo;
    return V3_OK;
}

v3_result V3_API canProcessSampleSize(void*, int32_t size) {
    return size == V3_SAMPLE_32 || size == V3_SAMPLE_64 ? V3_OK : V3_FALSE;
}

// Clean's delay while the quality is Clean.
uint32_t V3_API getLatencySamples(void* self) {
    const Plugin& p = plugin(self);
    return static_cast<uint32_t>(p.engine.latency(p.quality()));
}

v3_result V3_API setupProcessing(void* self, v3_process_setup* setup) {
    if (!setup) return V3_INVALID_ARG;
    Plugin& p = plugin(self);
    if (canProcessSampleSize(self, setup->symbolic_sample_size) != V3_OK) return V3_FALSE;
    // The one call that allocates: Clean's buffers for the largest block.
    if (!p.engine.prepare(setup->sample_rate, setup->max_block_size)) return V3_FALSE;
    p.sampleSize = setup->symbolic_sample_size;
    return V3_OK;
}

v3_result V3_API setProcessing(void*, v3_bool) {
    return V3_OK;
}

Controls controlsNow(const Plugin& p) {
    return controlsFor(p.engine.state(), p.values[kGain].load(std::memory_order_relaxed),
                       p.values[kPad1].load(std::memory_order_relaxed),
                       p.values[kPad2].load(std::memory_order_relaxed),
                       p.values[kVolume].load(std::memory_order_relaxed));
}

void applyPoint(Plugin& p, v3_param_id id, double normalised) {
    const auto value = acceptNormalised(id, normalised);
    if (!value) return;
    p.values[id].store(*value, std::memory_order_relaxed);
    if (id == kQuality && p.quality() != p.latencyQuality) p.latencyStale = true;
}

// The two channels of a bus in the sample type of the call, or null.
template <typename Sample>
Sample* const* channels(const v3_audio_bus_buffers* buses, int32_t count) {
    if (!buses || count < 1 || buses[0].num_channels < 2) return nullptr;
    Sample* const* data;
    if constexpr (sizeof(Sample) == sizeof(double)) {
        data = buses[0].channel_buffers_64;
    } else {
        data = buses[0].channel_buffers_32;
    }
    return data && data[0] && data[1] ? data : nullptr;
}

// Sample-accurate: the block is split at each parameter point, and each
// piece runs with the values in force from its start. A point out of order
// takes effect where the block has got to; one past the end, at the end.
// Each piece meters into the LED's cell while a panel is open.
template <typename Sample>
v3_result processBlock(Plugin& p, v3_process_data& data) {
    ParamPoints points(data.input_params);
    const Sample* const* in = channels<Sample>(data.inputs, data.num_input_buses);
    Sample* const* out = channels<Sample>(data.outputs, data.num_output_buses);
    if (!in || !out) {
        int32_t at = 0;
        v3_param_id id = 0;
        double value = 0.0;
        while (points.next(at, id, value))
            applyPoint(p, id, value);
        return V3_INVALID_ARG;
    }
    const int32_t frames = data.nframes;
    int32_t done = 0;
    auto runTo = [&](int32_t end) {
        runBlockToPeak<Sample>(p.peak, p.engine, controlsNow(p), p.quality(), false, in[0] + done,
                               in[1] + done, out[0] + done, out[1] + done, end - done);
        done = end;
    };
    int32_t at = 0;
    v3_param_id id = 0;
    double value = 0.0;
    while (points.next(at, id, value)) {
        if (at > frames) at = frames;
        if (at > done) runTo(at);
        applyPoint(p, id, value);
    }
    if (done < frames) runTo(frames);
    data.outputs[0].channel_silence_bitset = 0;
    return V3_OK;
}

v3_result V3_API process(void* self, v3_process_data* data) {
    if (!data) return V3_INVALID_ARG;
    Plugin& p = plugin(self);
    if (data->nframes <= 0) {
        // A parameter flush (a host may pass no buffers at all): the values
        // change, and the sound goes on as if the call had not been made,
        // so a host's flushes, made whenever it likes, never reach the audio.
        ParamPoints points(data->input_params);
        int32_t at = 0;
        v3_param_id id = 0;
        double value = 0.0;
        while (points.next(at, id, value))
            applyPoint(p, id, value);
        return V3_OK;
    }
    return data->symbolic_sample_size == V3_SAMPLE_64 ? processBlock<double>(p, *data)
                                                      : processBlock<float>(p, *data);
}

uint32_t V3_API getTailSamples(void*) {
    return 0;
}

// --- IEditController ---

v3_result V3_API setComponentState(void* self, v3_bstream** stream) {
    // The controller's values are the component's: the same bytes, read again.
    return loadState(self, stream);
}

// The controller keeps nothing of its own.
v3_result V3_API setControllerState(void*, v3_bstream**) {
    return V3_OK;
}

v3_result V3_API getControllerState(void*, v3_bstream**) {
    return V3_OK;
}

int32_t V3_API getParameterCount(void*) {
    return kNumAllParams;
}

v3_result V3_API getParameterInfo(void*, int32_t index, v3_param_info* info) {
    return info && paramInfo(index, *info) ? V3_OK : V3_INVALID_ARG;
}

v3_result V3_API getParameterStringForValue(void*, v3_param_id id, double normalised,
                                            v3_str_128 output) {
    return output && textOf(id, normalised, output) ? V3_OK : V3_INVALID_ARG;
}

v3_result V3_API getParameterValueForString(void*, v3_param_id id, int16_t* input, double* output) {
    return output && valueOfText(id, input, *output) ? V3_OK : V3_INVALID_ARG;
}

double V3_API normalisedParameterToPlain(void*, v3_param_id id, double normalised) {
    return plainOf(id, normalised);
}

double V3_API plainParameterToNormalised(void*, v3_param_id id, double plain) {
    return normalisedOf(id, plain);
}

double V3_API getParameterNormalised(void* self, v3_param_id id) {
    Plugin& p = plugin(self);
    p.tellLatency();
    if (id >= static_cast<v3_param_id>(kNumAllParams)) return 0.0;
    return p.values[id].load(std::memory_order_relaxed);
}

v3_result V3_API setParameterNormalised(void* self, v3_param_id id, double normalised) {
    const auto value = acceptNormalised(id, normalised);
    if (!value) return V3_INVALID_ARG;
    Plugin& p = plugin(self);
    p.values[id].store(*value, std::memory_order_relaxed);
    if (id == kQuality) p.tellLatency();
    return V3_OK;
}

v3_result V3_API setComponentHandler(void* self, v3_component_handler** handler) {
    Plugin& p = plugin(self);
    if (handler == p.handler) return V3_OK;
    if (handler) v3_cpp_obj_ref(handler);
    if (p.handler) v3_cpp_obj_unref(p.handler);
    p.handler = handler;
    return V3_OK;
}

v3_plugin_view** V3_API createView(void* self, const char* name) {
    if (!name || std::strcmp(name, "editor") != 0) return nullptr;
    return kv::vst3::createView(plugin(self));
}

const v3_component_cpp kComponent = {
    {queryInterface, ref, unref},
    {initialize, terminate},
    {getControllerClassId, setIoMode, getBusCount, getBusInfo, getRoutingInfo, activateBus,
     setActive, loadState, saveState}};

const v3_audio_processor_cpp kProcessor = {
    {queryInterface, ref, unref},
    {setBusArrangements, getBusArrangement, canProcessSampleSize, getLatencySamples,
     setupProcessing, setProcessing, process, getTailSamples}};

const v3_edit_controller_cpp kController = {
    {queryInterface, ref, unref},
    {initialize, terminate},
    {setComponentState, setControllerState, getControllerState, getParameterCount, getParameterInfo,
     getParameterStringForValue, getParameterValueForString, normalisedParameterToPlain,
     plainParameterToNormalised, getParameterNormalised, setParameterNormalised,
     setComponentHandler, createView}};

}  // namespace

Plugin::Plugin()
    : component{&kComponent, this}, processor{&kProcessor, this}, controller{&kController, this} {
    for (const ParamInfo& p : kParamInfo)
        values[p.index].store(p.defaultValue, std::memory_order_relaxed);
}

Plugin::~Plugin() {
    if (handler) v3_cpp_obj_unref(handler);
}

void* Plugin::query(const v3_tuid iid) {
    void* found = nullptr;
    if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_base_iid) ||
        v3_tuid_match(iid, v3_component_iid))
        found = &component;
    else if (v3_tuid_match(iid, v3_audio_processor_iid))
        found = &processor;
    else if (v3_tuid_match(iid, v3_edit_controller_iid))
        found = &controller;
    if (found) ref();
    return found;
}

uint32_t Plugin::unref() {
    const uint32_t left = refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

void Plugin::valuesNow(float (&out)[kNumAllParams]) const {
    for (int32_t i = 0; i < kNumAllParams; ++i)
        out[i] = values[i].load(std::memory_order_relaxed);
}

void Plugin::tellLatency() {
    latencyStale = false;
    if (quality() == latencyQuality || !handler) return;
    // The host asks get_latency_samples again and restarts the processing,
    // whose activation then takes the new quality's latency as heard.
    latencyQuality = quality();
    v3_cpp_obj(handler)->restart_component(handler, V3_RESTART_LATENCY_CHANGED);
}

Plugin* createPlugin() {
    return new (std::nothrow) Plugin;
}

}  // namespace kv::vst3
