#include "clap/clap_opamp.h"

#include <clap/ext/audio-ports.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/plugin-features.h>

#include <cstring>
#include <new>
#include <optional>

#include "clap/clap_gui.h"
#include "clap/clap_instance.h"
#include "clap/clap_params.h"
#include "common/identity.h"
#include "dsp/opamp_kernel.h"
#include "dsp/opamp_run.h"
#include "dsp/state_codec.h"

namespace kv::clap {

namespace {

using namespace kv::opamp;

const char* const kFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_DISTORTION,
                                 CLAP_PLUGIN_FEATURE_STEREO, nullptr};

const clap_plugin_descriptor_t kDescriptor = {
    CLAP_VERSION_INIT,
    kv::identity::kClapId,
    kv::identity::kName,
    kv::identity::kVendor,
    "",
    "",
    "",
    kv::identity::kVersion,
    kv::identity::kDescription,
    const_cast<const char**>(kFeatures),
};

// A quality other than the one whose latency the host knows, while active:
// the host is asked for a restart (once), at which it hears the new latency.
// Any thread.
void askRestartForLatency(Opamp& o) {
    if (!o.active || o.calls.ending()) return;
    if (qualityOf(o.values[kQuality].load(std::memory_order_relaxed)) == o.latencyQuality) return;
    if (!o.restartAsked.exchange(true) && o.host->request_restart) o.host->request_restart(o.host);
}

Quality qualityNow(const Opamp& o) {
    return qualityOf(o.values[kQuality].load(std::memory_order_relaxed));
}

// Applies one input event if it is a value for one of our parameters;
// answers whether it was.
bool applyEvent(Opamp& o, const clap_event_header_t& header) {
    if (header.space_id != CLAP_CORE_EVENT_SPACE_ID || header.type != CLAP_EVENT_PARAM_VALUE ||
        header.size < sizeof(clap_event_param_value_t)) {
        return false;
    }
    const auto& event = reinterpret_cast<const clap_event_param_value_t&>(header);
    const auto value = normalisedFromPlain(event.param_id, event.value);
    if (!value) return false;
    o.values[event.param_id].store(*value, std::memory_order_relaxed);
    if (event.param_id == kQuality) askRestartForLatency(o);
    return true;
}

void applyEvents(Opamp& o, const clap_input_events_t* in) {
    if (!in) return;
    const uint32_t count = in->size(in);
    for (uint32_t i = 0; i < count; ++i) {
        if (const clap_event_header_t* header = in->get(in, i)) applyEvent(o, *header);
    }
}

// The panel's gestures and values, as the host's output events. Without a
// queue to put them in they wait for the next process or flush; what the
// host's queue refuses waits too, and a flush is asked for again, since a
// host that is not processing flushes only when asked (the gesture's end
// would wait for the next drag otherwise).
void sendPanelEvents(Opamp& o, const clap_output_events_t* out) {
    if (!out || !out->try_push) return;
    const bool all = o.fromPanel.send([&](auto kind, uint32_t id) {
        using Events = decltype(o.fromPanel);
        // A host that destroyed us inside the last push hears no more.
        if (!o.calls.mayCall()) return false;
        if (kind == Events::kValue) {
            clap_event_param_value_t value{};
            value.header = {sizeof value, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
            value.param_id = id;
            value.note_id = -1;
            value.port_index = value.channel = value.key = -1;
            value.value = plainFromNormalised(id, o.values[id].load(std::memory_order_relaxed));
            return out->try_push(out, &value.header);
        }
        clap_event_param_gesture_t gesture{};
        gesture.header = {
            sizeof gesture, 0, CLAP_CORE_EVENT_SPACE_ID,
            static_cast<uint16_t>(kind == Events::kBegin ? CLAP_EVENT_PARAM_GESTURE_BEGIN
                                                         : CLAP_EVENT_PARAM_GESTURE_END),
            0};
        gesture.param_id = id;
        return out->try_push(out, &gesture.header);
    });
    if (!all && o.calls.mayCall() && o.hostParams && o.hostParams->request_flush)
        o.hostParams->request_flush(o.host);
}

Controls controlsNow(const Opamp& o) {
    return controlsFor(o.processor.state(), o.values[kGain].load(std::memory_order_relaxed),
                       o.values[kPad1].load(std::memory_order_relaxed),
                       o.values[kPad2].load(std::memory_order_relaxed),
                       o.values[kVolume].load(std::memory_order_relaxed));
}

// --- the plug-in ---

bool init(const clap_plugin_t* plugin) {
    Opamp& o = *self(plugin);
    o.hostParams =
        static_cast<const clap_host_params_t*>(o.host->get_extension(o.host, CLAP_EXT_PARAMS));
    return true;
}

void destroy(const clap_plugin_t* plugin) {
    // A host that destroys the plug-in with its panel open, perhaps from
    // inside a call the panel made: the panel closes now, the memory goes
    // when the host's call into us returns.
    Opamp& o = *self(plugin);
    o.calls.stopCalling();  // the panel's last gesture end is no news to a host destroying us
    destroyGui(o);
    o.calls.endWhenIdle();
}

// The one call that allocates: Clean's buffers for the largest block.
bool activate(const clap_plugin_t* plugin, double rate, uint32_t, uint32_t maxFrames) {
    Opamp& o = *self(plugin);
    if (!o.processor.prepare(rate, static_cast<int32_t>(maxFrames))) return false;
    o.latencyQuality = qualityNow(o);
    o.restartAsked = false;
    o.active = true;
    // The latency may change only here; a host that asked before hears it.
    const int32_t latency = o.processor.latency(o.latencyQuality);
    if (latency != o.lastLatency) {
        o.lastLatency = latency;
        const auto* hostLatency = static_cast<const clap_host_latency_t*>(
            o.host->get_extension(o.host, CLAP_EXT_LATENCY));
        if (hostLatency && hostLatency->changed) hostLatency->changed(o.host);
    }
    return true;
}

void deactivate(const clap_plugin_t* plugin) {
    self(plugin)->active = false;
}

bool startProcessing(const clap_plugin_t*) {
    return true;
}

void stopProcessing(const clap_plugin_t*) {}

void reset(const clap_plugin_t* plugin) {
    self(plugin)->processor.reset();
}

const float* const* channels(const clap_audio_buffer_t* buffers, uint32_t count) {
    if (!buffers || count < 1 || buffers[0].channel_count < 2 || !buffers[0].data32) return nullptr;
    const float* const* data = buffers[0].data32;
    return data[0] && data[1] ? data : nullptr;
}

clap_process_status process(const clap_plugin_t* plugin, const clap_process_t* p) {
    Opamp& o = *self(plugin);
    if (!p) return CLAP_PROCESS_ERROR;
    sendPanelEvents(o, p->out_events);
    if (p->frames_count == 0) {
        // No audio to touch (a host may pass no buffers at all): the values
        // still change, and the block counts, as in the VST 2 build.
        applyEvents(o, p->in_events);
        o.processor.run<float, false>(controlsNow(o), qualityNow(o), false, nullptr, nullptr,
                                      nullptr, nullptr, 0);
        return CLAP_PROCESS_CONTINUE;
    }
    const float* const* in = channels(p->audio_inputs, p->audio_inputs_count);
    const float* const* outConst = channels(p->audio_outputs, p->audio_outputs_count);
    if (!in || !outConst) return CLAP_PROCESS_ERROR;
    float* const* out = p->audio_outputs[0].data32;
    const uint32_t frames = p->frames_count;

    // Sample-accurate: the block is split at each event that changes a
    // value, and each piece runs with the values in force from its start.
    // An event out of order takes effect where the block has got to; one
    // past the end, at the end.
    // Each piece meters into the LED's cell while the panel is open.
    uint32_t done = 0;
    auto runTo = [&](uint32_t end) {
        runBlockToPeak<float>(o.peak, o.processor, controlsNow(o), qualityNow(o), false,
                              in[0] + done, in[1] + done, out[0] + done, out[1] + done,
                              static_cast<int32_t>(end - done));
        done = end;
    };
    const clap_input_events_t* events = p->in_events;
    const uint32_t count = events ? events->size(events) : 0;
    for (uint32_t i = 0; i < count; ++i) {
        const clap_event_header_t* header = events->get(events, i);
        if (!header) continue;
        uint32_t at = header->time < frames ? header->time : frames;
        if (at < done) at = done;
        if (at > done) runTo(at);
        applyEvent(o, *header);
    }
    if (done < frames) runTo(frames);
    return CLAP_PROCESS_CONTINUE;
}

// --- audio-ports: one stereo main input, one stereo main output ---

uint32_t audioPortCount(const clap_plugin_t*, bool) {
    return 1;
}

bool audioPortGet(const clap_plugin_t*, uint32_t index, bool isInput,
                  clap_audio_port_info_t* info) {
    if (index != 0 || !info) return false;
    *info = {};
    info->id = 0;
    std::strcpy(info->name, isInput ? "In" : "Out");
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = 2;
    info->port_type = CLAP_PORT_STEREO;
    info->in_place_pair = 0;
    return true;
}

const clap_plugin_audio_ports_t kAudioPorts = {audioPortCount, audioPortGet};

// --- params ---

uint32_t paramCount(const clap_plugin_t*) {
    return kParamCount;
}

bool paramGetInfo(const clap_plugin_t*, uint32_t index, clap_param_info_t* info) {
    return info && paramInfo(index, *info);
}

bool paramGetValue(const clap_plugin_t* plugin, clap_id id, double* value) {
    if (!value || !validId(id)) return false;
    *value = plainFromNormalised(id, self(plugin)->values[id].load(std::memory_order_relaxed));
    return true;
}

bool paramValueToText(const clap_plugin_t*, clap_id id, double value, char* display,
                      uint32_t size) {
    return valueToText(id, value, display, size);
}

bool paramTextToValue(const clap_plugin_t*, clap_id id, const char* display, double* value) {
    return value && textToValue(id, display, *value);
}

void paramFlush(const clap_plugin_t* plugin, const clap_input_events_t* in,
                const clap_output_events_t* out) {
    Opamp& o = *self(plugin);
    // Inactive, the flush is on the main thread, where the host may destroy
    // us from inside a try_push: the instance stays until the flush returns.
    std::optional<kv::HostCalls::Entry> entry;
    if (!o.active) entry.emplace(o.calls);
    sendPanelEvents(o, out);
    applyEvents(o, in);
}

const clap_plugin_params_t kParams = {paramCount,       paramGetInfo,     paramGetValue,
                                      paramValueToText, paramTextToValue, paramFlush};

// --- state: the record of the DSP core's codec ---

bool stateSave(const clap_plugin_t* plugin, const clap_ostream_t* stream) {
    if (!stream) return false;
    const Opamp& o = *self(plugin);
    float values[kNumAllParams];
    for (int32_t i = 0; i < kNumAllParams; ++i)
        values[i] = o.values[i].load(std::memory_order_relaxed);
    unsigned char record[kRecordSize];
    encodeRecord(values, record);
    for (size_t written = 0; written < kRecordSize;) {
        const int64_t n = stream->write(stream, record + written, kRecordSize - written);
        if (n <= 0) return false;
        written += static_cast<size_t>(n);
    }
    return true;
}

bool stateLoad(const clap_plugin_t* plugin, const clap_istream_t* stream) {
    if (!stream) return false;
    // One byte more than a record: a longer stream is not ours either.
    unsigned char record[kRecordSize + 1];
    size_t got = 0;
    while (got < sizeof record) {
        const int64_t n = stream->read(stream, record + got, sizeof record - got);
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    float values[kNumAllParams];
    if (!decodeRecord(record, got, values)) return false;
    Opamp& o = *self(plugin);
    for (int32_t i = 0; i < kNumAllParams; ++i)
        o.values[i].store(values[i], std::memory_order_relaxed);
    askRestartForLatency(o);
    if (o.hostParams && o.hostParams->rescan)
        o.hostParams->rescan(o.host, CLAP_PARAM_RESCAN_VALUES);
    return true;
}

const clap_plugin_state_t kState = {stateSave, stateLoad};

// --- latency: Clean's, while the quality is Clean ---

uint32_t latencyGet(const clap_plugin_t* plugin) {
    const Opamp& o = *self(plugin);
    return static_cast<uint32_t>(o.processor.latency(o.active ? o.latencyQuality : qualityNow(o)));
}

const clap_plugin_latency_t kLatency = {latencyGet};

const void* getExtension(const clap_plugin_t*, const char* id) {
    if (!id) return nullptr;
    if (std::strcmp(id, CLAP_EXT_LATENCY) == 0) return &kLatency;
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) return &kAudioPorts;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &kParams;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &kState;
    return guiExtension(id);
}

void onMainThread(const clap_plugin_t*) {}

}  // namespace

const clap_plugin_descriptor_t& descriptor() {
    return kDescriptor;
}

const clap_plugin_t* createOpamp(const clap_host_t* host) {
    auto* o = new (std::nothrow) Opamp;
    if (!o) return nullptr;
    o->host = host;
    o->plugin = {
        &kDescriptor,   o,     init,    destroy,      activate,    deactivate, startProcessing,
        stopProcessing, reset, process, getExtension, onMainThread};
    return &o->plugin;
}

}  // namespace kv::clap
