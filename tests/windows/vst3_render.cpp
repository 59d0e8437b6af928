// kv23w vst3process: a WAV file through the VST3 plug-in's processor.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vst3_commands.h"
#include "vst3_module.h"
#include "wav_file.h"

namespace kvtest {

namespace {

// The settings as IParameterChanges: one queue per parameter with its one
// point, all at the block's first sample.
struct Changes {
    struct Queue {
        const void* table;
        v3_param_id id;
        double value;
    };
    const void* table;
    Queue queues[8];
    int32_t count = 0;
};

Changes::Queue& queueOf(void* self) {
    return *static_cast<Changes::Queue*>(self);
}
Changes& changesOf(void* self) {
    return *static_cast<Changes*>(self);
}

// The host owns both for the length of the call: references change nothing.
v3_result V3_API noInterface(void*, const v3_tuid, void** obj) {
    if (obj) *obj = nullptr;
    return V3_NO_INTERFACE;
}
uint32_t V3_API held(void*) {
    return 1;
}

v3_param_id V3_API queueId(void* self) {
    return queueOf(self).id;
}
int32_t V3_API onePoint(void*) {
    return 1;
}
v3_result V3_API point(void* self, int32_t index, int32_t* offset, double* value) {
    if (index != 0 || !offset || !value) return V3_INVALID_ARG;
    *offset = 0;
    *value = queueOf(self).value;
    return V3_OK;
}
v3_result V3_API noRoom(void*, int32_t, double, int32_t*) {
    return V3_NOT_IMPLEMENTED;
}
const v3_param_value_queue_cpp kQueue = {{noInterface, held, held},
                                         {queueId, onePoint, point, noRoom}};

int32_t V3_API queueCount(void* self) {
    return changesOf(self).count;
}
v3_param_value_queue** V3_API queueAt(void* self, int32_t index) {
    Changes& c = changesOf(self);
    if (index < 0 || index >= c.count) return nullptr;
    return reinterpret_cast<v3_param_value_queue**>(&c.queues[index]);
}
v3_param_value_queue** V3_API noQueue(void*, v3_param_id*, int32_t*) {
    return nullptr;
}
const v3_param_changes_cpp kChanges = {{noInterface, held, held}, {queueCount, queueAt, noQueue}};

int fail(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return 1;
}

}  // namespace

int vst3Process(const std::vector<std::string>& args) {
    if (args.size() < 3) return 2;
    Changes settings{&kChanges, {}, 0};
    Changes none{&kChanges, {}, 0};
    int block = 512;
    for (size_t i = 3; i < args.size(); ++i) {
        if (args[i] == "--param" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            const size_t eq = v.find('=');
            if (eq == std::string::npos || settings.count == 8) return 2;
            settings.queues[settings.count++] = {
                &kQueue, static_cast<v3_param_id>(std::atoi(v.substr(0, eq).c_str())),
                std::strtod(v.substr(eq + 1).c_str(), nullptr)};
        } else if (args[i] == "--block" && i + 1 < args.size()) {
            block = std::atoi(args[++i].c_str());
            if (block < 1) return 2;
        } else {
            return 2;
        }
    }
    std::string error;
    kvtest::wav::Audio in;
    Vst3Module m;
    if (!kvtest::wav::read(args[1], in, error) || !m.load(args[0], error)) return fail(error);
    // The plain values in the plug-in's own normalised terms, told to the
    // controller as a host keeps both sides in step.
    for (int32_t i = 0; i < settings.count; ++i) {
        Changes::Queue& q = settings.queues[i];
        q.value = m.ctrl()->plain_parameter_to_normalised(m.controller(), q.id, q.value);
        m.ctrl()->set_parameter_normalised(m.controller(), q.id, q.value);
    }

    v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, block, static_cast<double>(in.rate)};
    if (m.proc()->can_process_sample_size(m.processor(), V3_SAMPLE_32) != V3_OK ||
        m.proc()->setup_processing(m.processor(), &setup) != V3_OK ||
        m.comp()->set_active(m.component(), 1) != V3_OK)
        return fail("the plug-in refused 32-bit processing or activation");
    const v3_result processing = m.proc()->set_processing(m.processor(), 1);
    if (processing != V3_OK && processing != static_cast<v3_result>(V3_NOT_IMPLEMENTED))
        return fail("the plug-in refused set_processing");

    kvtest::wav::Audio out = in;
    out.channels = 2;
    const int64_t frames = in.frames();
    out.samples.assign(static_cast<size_t>(frames) * 2, 0.0f);
    std::vector<float> l(block), r(block), ol(block), orr(block);
    float* inputs[2] = {l.data(), r.data()};
    float* outputs[2] = {ol.data(), orr.data()};
    v3_audio_bus_buffers inBus{};
    inBus.num_channels = 2;
    inBus.channel_buffers_32 = inputs;
    v3_audio_bus_buffers outBus{};
    outBus.num_channels = 2;
    outBus.channel_buffers_32 = outputs;
    bool processed = true;
    for (int64_t done = 0; done < frames && processed; done += block) {
        const int n = static_cast<int>(std::min<int64_t>(block, frames - done));
        for (int i = 0; i < n; ++i) {
            const size_t at = static_cast<size_t>(done + i) * in.channels;
            l[i] = in.samples[at];
            r[i] = in.samples[at + (in.channels > 1 ? 1 : 0)];
        }
        v3_process_data data{};
        data.process_mode = V3_REALTIME;
        data.symbolic_sample_size = V3_SAMPLE_32;
        data.nframes = n;
        data.num_input_buses = 1;
        data.num_output_buses = 1;
        data.inputs = &inBus;
        data.outputs = &outBus;
        data.input_params = reinterpret_cast<v3_param_changes**>(done == 0 ? &settings : &none);
        processed = m.proc()->process(m.processor(), &data) == V3_OK;
        for (int i = 0; i < n; ++i) {
            out.samples[static_cast<size_t>(done + i) * 2] = ol[i];
            out.samples[static_cast<size_t>(done + i) * 2 + 1] = orr[i];
        }
    }
    m.proc()->set_processing(m.processor(), 0);
    m.comp()->set_active(m.component(), 0);
    if (!processed) return fail("process answered an error");
    if (!kvtest::wav::write(args[2], out, true, error)) return fail(error);
    std::printf("processed %lld frames\n", static_cast<long long>(frames));
    return 0;
}

}  // namespace kvtest
