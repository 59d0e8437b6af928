// What the vst3 group's checks share: a Vst3Host loaded for a check, with
// a recorder of everything the plug-in tells the host, the calls into the
// plug-in's tables that travesty does not unwrap, and blocks of noise.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/validate/validator.h"
#include "host/vst3_host.h"

namespace kv::validate::vst3check {

// The plug-in's edits, restarts and resize requests, with the time each came.
class Recorder final : public host::vst3::HostEvents {
  public:
    struct Edit {
        char kind;  // 'b'egin, 'p'erform, 'e'nd
        v3_param_id id;
        double value;
        std::chrono::steady_clock::time_point at;
    };
    std::vector<Edit> edits();
    size_t editCount();
    int32_t restarts();  // the flags of every restart so far, or-ed
    std::vector<v3_view_rect> resizes();
    bool grantResize = true;

    void beginEdit(v3_param_id id) override { add('b', id, 0.0); }
    void performEdit(v3_param_id id, double normalised) override { add('p', id, normalised); }
    void endEdit(v3_param_id id) override { add('e', id, 0.0); }
    void restartComponent(int32_t flags) override;
    bool resizeView(v3_plugin_view** view, const v3_view_rect& rect) override;
    void note(const std::string&) override {}

  private:
    void add(char kind, v3_param_id id, double value);
    std::mutex mutex_;
    std::vector<Edit> edits_;
    int32_t restarts_ = 0;
    std::vector<v3_view_rect> resizes_;
};

// A loaded instance and its recorder; throws when the plug-in gives none.
struct Rig {
    std::unique_ptr<host::Vst3Host> host;
    Recorder heard;
    host::Vst3Host* operator->() { return host.get(); }
};
std::unique_ptr<Rig> loadRig(Context& ctx, const host::Vst3Options& options = {});

v3_plugin_base* base(void* face);
v3_audio_processor* proc(v3_audio_processor** p);
v3_plugin_view* viewOf(v3_plugin_view** v);

// A block of noise at half scale through the host's main buses, with
// `points`; the problem, or empty when the plug-in answered OK and wrote
// only finite samples.
std::string noiseBlock(Context& ctx, host::Vst3Host& host, uint32_t frames,
                       std::span<const host::Vst3Point> points = {});

}  // namespace kv::validate::vst3check
