#include "host/validate/vst3_rig.h"

#include <cmath>
#include <stdexcept>

namespace kv::validate::vst3check {

void Recorder::add(char kind, v3_param_id id, double value) {
    std::lock_guard<std::mutex> lock(mutex_);
    edits_.push_back({kind, id, value, std::chrono::steady_clock::now()});
}

std::vector<Recorder::Edit> Recorder::edits() {
    std::lock_guard<std::mutex> lock(mutex_);
    return edits_;
}

size_t Recorder::editCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return edits_.size();
}

void Recorder::restartComponent(int32_t flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    restarts_ |= flags;
}

int32_t Recorder::restarts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return restarts_;
}

bool Recorder::resizeView(v3_plugin_view**, const v3_view_rect& rect) {
    std::lock_guard<std::mutex> lock(mutex_);
    resizes_.push_back(rect);
    return grantResize;
}

std::vector<v3_view_rect> Recorder::resizes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return resizes_;
}

std::unique_ptr<Rig> loadRig(Context& ctx, const host::Vst3Options& options) {
    auto rig = std::make_unique<Rig>();
    std::string error;
    rig->host = host::Vst3Host::load(ctx.options().pluginPath, error, options);
    if (!rig->host) throw std::runtime_error(error);
    rig->host->setEvents(&rig->heard);
    return rig;
}

v3_plugin_base* base(void* face) {
    return &(*static_cast<v3_component_cpp**>(face))->base;
}

v3_audio_processor* proc(v3_audio_processor** p) {
    return &(*reinterpret_cast<v3_audio_processor_cpp**>(p))->proc;
}

v3_plugin_view* viewOf(v3_plugin_view** v) {
    return &(*reinterpret_cast<v3_plugin_view_cpp**>(v))->view;
}

std::string noiseBlock(Context& ctx, host::Vst3Host& host, uint32_t frames,
                       std::span<const host::Vst3Point> points) {
    const uint32_t ins = host.mainChannels(true), outs = host.mainChannels(false);
    const bool wide = host.sampleSize() == V3_SAMPLE_64;
    std::vector<std::vector<double>> in(ins, std::vector<double>(frames)),
        out(outs, std::vector<double>(frames));
    std::vector<std::vector<float>> in32(ins, std::vector<float>(frames)),
        out32(outs, std::vector<float>(frames));
    std::vector<double*> inP, outP;
    std::vector<float*> inP32, outP32;
    for (uint32_t c = 0; c < ins; ++c) {
        for (uint32_t n = 0; n < frames; ++n) {
            in[c][n] = 0.5 * (2.0 * ctx.uniform() - 1.0);
            in32[c][n] = static_cast<float>(in[c][n]);
        }
        inP.push_back(in[c].data());
        inP32.push_back(in32[c].data());
    }
    for (uint32_t c = 0; c < outs; ++c) {
        outP.push_back(out[c].data());
        outP32.push_back(out32[c].data());
    }
    const v3_result r = wide ? host.process(inP.data(), outP.data(), frames, points)
                             : host.process(inP32.data(), outP32.data(), frames, points);
    if (r != V3_OK) return format("process answered %d for %u frames", r, frames);
    for (uint32_t c = 0; c < outs; ++c) {
        for (uint32_t n = 0; n < frames; ++n) {
            const double v = wide ? out[c][n] : static_cast<double>(out32[c][n]);
            if (!std::isfinite(v))
                return format("%u frames gave the output %g at channel %u, frame %u", frames, v, c,
                              n);
        }
    }
    return {};
}

}  // namespace kv::validate::vst3check
