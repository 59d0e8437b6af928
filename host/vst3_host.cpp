#include "host/vst3_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace kv::host {

namespace fs = std::filesystem;
using vst3::queryOf;
using vst3::refOf;
using vst3::unrefOf;

namespace {

// The calls past FUnknown of the interfaces whose C++ tables travesty
// does not unwrap.
v3_audio_processor* proc(v3_audio_processor** p) {
    return &(*reinterpret_cast<v3_audio_processor_cpp**>(p))->proc;
}
v3_plugin_base* base(void* face) {
    return &(*static_cast<v3_component_cpp**>(face))->base;
}
v3_connection_point* point(v3_connection_point** p) {
    return &(*reinterpret_cast<v3_connection_point_cpp**>(p))->point;
}
v3_plugin_view* viewOf(v3_plugin_view** v) {
    return &(*reinterpret_cast<v3_plugin_view_cpp**>(v))->view;
}

std::string fixed(const char* text, size_t size) {
    return std::string(text, strnlen(text, size));
}

std::string hexId(const v3_tuid id) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < 16; ++i) {
        s += digits[id[i] >> 4];
        s += digits[id[i] & 15];
    }
    return s;
}

constexpr const char* kPlatformType = "X11EmbedWindowID";

}  // namespace

bool isVst3Path(const std::string& path) {
    std::error_code ignored;
    for (fs::path p = fs::absolute(path, ignored); p.has_relative_path(); p = p.parent_path()) {
        if (p.extension() == ".vst3") return true;
        if (p == p.parent_path()) break;
    }
    return false;
}

std::string vst3ModulePath(const std::string& path) {
    std::error_code ignored;
    if (!fs::is_directory(path, ignored)) return path;
    const fs::path bundle = fs::path(path).lexically_normal();
    const fs::path folder = bundle / "Contents" / "x86_64-linux";
    fs::path name = bundle.filename().empty() ? bundle.parent_path().filename() : bundle.filename();
    const fs::path module = folder / (name.stem().string() + ".so");
    if (fs::exists(module, ignored)) return module.string();
    // A module named otherwise: the one shared object in the folder.
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        if (entry.path().extension() == ".so") return entry.path().string();
    }
    return module.string();
}

Vst3Host::Vst3Host(const Vst3Options& options) : options_(options) {}

std::unique_ptr<Vst3Host> Vst3Host::load(const std::string& path, std::string& error,
                                         const Vst3Options& options) {
    std::unique_ptr<Vst3Host> host(new Vst3Host(options));
    if (!host->open(path, error)) return nullptr;
    return host;
}

bool Vst3Host::open(const std::string& path, std::string& error) {
    path_ = path;
    module_ = vst3ModulePath(path);
    std::error_code ignored;
    const std::string file = fs::absolute(module_, ignored).string();
    library_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_) {
        const char* why = dlerror();
        error = "cannot load the VST3 module " + module_ + ": " + (why ? why : "unknown error") +
                " (a Linux bundle holds Contents/x86_64-linux/NAME.so)";
        return false;
    }
    // Linux modules are entered with their handle before anything else.
    if (auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(library_, "ModuleEntry"))) {
        if (!entry(library_)) {
            error = module_ + ": ModuleEntry answered false; the module refuses to load";
            return false;
        }
        entered_ = true;
    }
    auto get = reinterpret_cast<void* (*)()>(dlsym(library_, "GetPluginFactory"));
    if (!get) {
        error = module_ + " exports no GetPluginFactory: no VST3 module";
        return false;
    }
    factory_ = static_cast<v3_plugin_factory_cpp**>(get());
    if (!factory_) {
        error = module_ + ": GetPluginFactory returned no factory";
        return false;
    }
    v3_factory_info info{};
    if ((*factory_)->v1.get_factory_info(factory_, &info) == V3_OK)
        record_.factoryVendor = fixed(info.vendor, sizeof info.vendor);
    // A factory that answers IPluginFactory3 gets our host application, as
    // the SDK's hosts give it, before it makes anything.
    if (void* f3 = queryOf(factory_, v3_plugin_factory_3_iid)) {
        (*static_cast<v3_plugin_factory_cpp**>(f3))->v3.set_host_context(f3, services().context());
        unrefOf(f3);
    }

    const int32_t classes = (*factory_)->v1.num_classes(factory_);
    record_.classCount = classes;
    v3_tuid cid{};
    bool found = false;
    for (int32_t i = 0; i < classes && !found; ++i) {
        v3_class_info c{};
        if ((*factory_)->v1.get_class_info(factory_, i, &c) != V3_OK) continue;
        if (fixed(c.category, sizeof c.category) != "Audio Module Class") continue;
        found = true;
        std::memcpy(cid, c.class_id, sizeof cid);
        record_.name = fixed(c.name, sizeof c.name);
        record_.cid = hexId(c.class_id);
        if (void* f2 = queryOf(factory_, v3_plugin_factory_2_iid)) {
            v3_class_info_2 c2{};
            if ((*static_cast<v3_plugin_factory_cpp**>(f2))->v2.get_class_info_2(f2, i, &c2) ==
                V3_OK) {
                record_.subCategories = fixed(c2.sub_categories, sizeof c2.sub_categories);
                record_.vendor = fixed(c2.vendor, sizeof c2.vendor);
                record_.version = fixed(c2.version, sizeof c2.version);
                record_.sdkVersion = fixed(c2.sdk_version, sizeof c2.sdk_version);
            }
            unrefOf(f2);
        }
    }
    if (record_.vendor.empty()) record_.vendor = record_.factoryVendor;
    if (!found) {
        error = module_ + ": its factory lists no \"Audio Module Class\": no effect to load";
        return false;
    }

    void* obj = nullptr;
    if ((*factory_)->v1.create_instance(factory_, cid, v3_component_iid, &obj) != V3_OK || !obj) {
        error = module_ + ": the factory made no component for " + record_.name;
        return false;
    }
    component_ = static_cast<v3_component**>(obj);
    if (base(component_)->initialize(component_, services().context()) != V3_OK) {
        error = module_ + ": the component refused initialize";
        return false;
    }
    componentInitialised_ = true;
    processor_ = static_cast<v3_audio_processor**>(queryOf(component_, v3_audio_processor_iid));
    if (!processor_) {
        error = module_ + ": the component has no IAudioProcessor";
        return false;
    }

    // The controller: the component's own, or the class it names.
    controller_ = static_cast<v3_edit_controller**>(queryOf(component_, v3_edit_controller_iid));
    if (!controller_) {
        v3_tuid ccid{};
        if (v3_cpp_obj(component_)->get_controller_class_id(component_, ccid) == V3_OK &&
            (*factory_)->v1.create_instance(factory_, ccid, v3_edit_controller_iid, &obj) ==
                V3_OK &&
            obj) {
            controller_ = static_cast<v3_edit_controller**>(obj);
            separate_ = true;
        }
    }
    if (!controller_) {
        error = module_ +
                ": the plug-in has no edit controller (neither the component's nor a "
                "class of its own)";
        return false;
    }
    // Ardour initialises the controller whatever it is, so a one-object
    // plug-in hears initialize twice.
    if (base(controller_)->initialize(controller_, services().context()) != V3_OK) {
        error = module_ + ": the edit controller refused initialize";
        return false;
    }
    controllerInitialised_ = true;
    // Two objects talk through their connection points.
    componentPoint_ =
        static_cast<v3_connection_point**>(queryOf(component_, v3_connection_point_iid));
    controllerPoint_ =
        static_cast<v3_connection_point**>(queryOf(controller_, v3_connection_point_iid));
    if (componentPoint_ && controllerPoint_ &&
        static_cast<void*>(componentPoint_) != static_cast<void*>(controllerPoint_)) {
        point(componentPoint_)->connect(componentPoint_, controllerPoint_);
        point(controllerPoint_)->connect(controllerPoint_, componentPoint_);
    } else {
        if (componentPoint_) unrefOf(componentPoint_);
        if (controllerPoint_) unrefOf(controllerPoint_);
        componentPoint_ = controllerPoint_ = nullptr;
    }
    v3_cpp_obj(controller_)->set_component_handler(controller_, services().handler());
    // The controller starts from the component's state, as hosts sync them.
    if (const auto state = saveState()) loadState(*state);

    readBuses();
    readParams();
    return true;
}

Vst3Host::~Vst3Host() {
    endInstance();
    if (services_) services_->releaseRegistrations();
    if (library_) {
        if (entered_) {
            if (auto exit = reinterpret_cast<bool (*)()>(dlsym(library_, "ModuleExit"))) exit();
        }
        dlclose(library_);
    }
    if (services_) services_->detach();
}

void Vst3Host::endInstance() {
    // The host stops listening before it takes the view away: whatever the
    // plug-in says while it goes reaches nobody.
    if (controller_) v3_cpp_obj(controller_)->set_component_handler(controller_, nullptr);
    if (processor_) stop();
    closeView();
    if (componentPoint_ && controllerPoint_) {
        point(componentPoint_)->disconnect(componentPoint_, controllerPoint_);
        point(controllerPoint_)->disconnect(controllerPoint_, componentPoint_);
    }
    if (componentPoint_) unrefOf(componentPoint_);
    if (controllerPoint_) unrefOf(controllerPoint_);
    componentPoint_ = controllerPoint_ = nullptr;
    if (controller_) {
        v3_cpp_obj(controller_)->set_component_handler(controller_, nullptr);
        if (controllerInitialised_) base(controller_)->terminate(controller_);
    }
    if (component_ && componentInitialised_) base(component_)->terminate(component_);
    controllerInitialised_ = componentInitialised_ = false;
    if (processor_) unrefOf(processor_);
    if (controller_) unrefOf(controller_);
    if (component_) unrefOf(component_);
    processor_ = nullptr;
    controller_ = nullptr;
    component_ = nullptr;
    if (factory_) unrefOf(factory_);
    factory_ = nullptr;
}

void* Vst3Host::moduleSymbol(const char* name) const {
    return dlsym(library_, name);
}

vst3::HostServices& Vst3Host::services() {
    if (!services_)
        services_ = std::make_shared<vst3::HostServices>(static_cast<vst3::HostEvents&>(*this));
    services_->runLoop = options_.runLoop;
    return *services_;
}

void Vst3Host::readBuses() {
    for (const bool input : {true, false}) {
        const int32_t dir = input ? V3_INPUT : V3_OUTPUT;
        auto& list = input ? inBuses_ : outBuses_;
        const int32_t count = v3_cpp_obj(component_)->get_bus_count(component_, V3_AUDIO, dir);
        for (int32_t i = 0; i < std::clamp(count, 0, 64); ++i) {
            v3_bus_info info{};
            if (v3_cpp_obj(component_)->get_bus_info(component_, V3_AUDIO, dir, i, &info) != V3_OK)
                info.channel_count = 0;
            info.channel_count = std::clamp(info.channel_count, 0, 64);
            // The main buses carry the audio; a host activates them.
            if (i == 0 && (info.flags & V3_DEFAULT_ACTIVE) == 0)
                v3_cpp_obj(component_)->activate_bus(component_, V3_AUDIO, dir, 0, 1);
            list.push_back(info);
        }
    }
}

uint32_t Vst3Host::mainChannels(bool input) const {
    const auto& list = buses(input);
    return list.empty() ? 0 : static_cast<uint32_t>(list[0].channel_count);
}

void Vst3Host::readParams() {
    const int32_t count = v3_cpp_obj(controller_)->get_parameter_count(controller_);
    for (int32_t i = 0; i < std::clamp(count, 0, 100000); ++i) {
        v3_param_info info{};
        if (v3_cpp_obj(controller_)->get_parameter_info(controller_, i, &info) != V3_OK) continue;
        Vst3ParamInfo p;
        p.id = info.param_id;
        p.title = vst3::narrow(info.title);
        p.units = vst3::narrow(info.units);
        p.stepCount = info.step_count;
        p.defaultNormalised = info.default_normalised_value;
        p.flags = info.flags;
        params_.push_back(std::move(p));
    }
}

double Vst3Host::normalised(v3_param_id id) const {
    return v3_cpp_obj(controller_)->get_parameter_normalised(controller_, id);
}

void Vst3Host::setNormalised(v3_param_id id, double value) {
    v3_cpp_obj(controller_)->set_parameter_normalised(controller_, id, value);
}

double Vst3Host::plainOf(v3_param_id id, double normalised) const {
    return v3_cpp_obj(controller_)->normalised_parameter_to_plain(controller_, id, normalised);
}

double Vst3Host::normalisedOf(v3_param_id id, double plain) const {
    return v3_cpp_obj(controller_)->plain_parameter_to_normalised(controller_, id, plain);
}

std::optional<std::string> Vst3Host::text(v3_param_id id, double normalised) const {
    v3_str_128 text{};
    if (v3_cpp_obj(controller_)
            ->get_parameter_string_for_value(controller_, id, normalised, text) != V3_OK)
        return std::nullopt;
    text[127] = 0;
    return vst3::narrow(text);
}

std::optional<double> Vst3Host::fromText(v3_param_id id, const std::string& text) const {
    v3_str_128 wide{};
    vst3::widen(text, wide, 128);
    double value = 0.0;
    if (v3_cpp_obj(controller_)->get_parameter_value_for_string(controller_, id, wide, &value) !=
        V3_OK)
        return std::nullopt;
    return value;
}

bool Vst3Host::canProcess(int32_t sampleSize) const {
    return proc(processor_)->can_process_sample_size(processor_, sampleSize) == V3_OK;
}

bool Vst3Host::setup(double rate, uint32_t maxFrames, int32_t sampleSize, int32_t mode) {
    v3_process_setup setup{mode, sampleSize, static_cast<int32_t>(maxFrames), rate};
    if (proc(processor_)->setup_processing(processor_, &setup) != V3_OK) return false;
    setUp_ = true;
    rate_ = rate;
    maxFrames_ = maxFrames;
    sampleSize_ = sampleSize;
    // Everything a block needs, made here: process allocates nothing.
    inChanges_.reserve(std::max<size_t>(params_.size(), 1), 512);
    outChanges_.reserve(std::max<size_t>(params_.size(), 16), 64);
    inBufs_.assign(inBuses_.size(), v3_audio_bus_buffers{});
    outBufs_.assign(outBuses_.size(), v3_audio_bus_buffers{});
    scratch_.clear();
    for (const auto* list : {&inBuses_, &outBuses_}) {
        for (size_t b = 1; b < list->size(); ++b) {
            for (int32_t c = 0; c < (*list)[b].channel_count; ++c)
                scratch_.emplace_back(maxFrames, 0.0);
        }
    }
    scratchPtrs_.clear();
    for (auto& s : scratch_)
        scratchPtrs_.push_back(s.data());
    return true;
}

bool Vst3Host::setActive(bool active) {
    if (v3_cpp_obj(component_)->set_active(component_, active ? 1 : 0) != V3_OK) return false;
    active_ = active;
    if (active) position_ = 0;
    return true;
}

bool Vst3Host::setProcessing(bool processing) {
    // Some plug-ins answer "not implemented" here: that is no refusal.
    const v3_result r = proc(processor_)->set_processing(processor_, processing ? 1 : 0);
    if (r != V3_OK && r != V3_NOT_IMPLEMENTED) return false;
    processing_ = processing;
    return true;
}

bool Vst3Host::start(double rate, uint32_t maxFrames, int32_t sampleSize) {
    stop();
    if (!canProcess(sampleSize) || !setup(rate, maxFrames, sampleSize)) return false;
    if (!setActive(true)) return false;
    if (!setProcessing(true)) {
        setActive(false);
        return false;
    }
    restartFlags_ &= ~V3_RESTART_LATENCY_CHANGED;  // read again from here on
    return true;
}

void Vst3Host::stop() {
    if (processing_) setProcessing(false);
    if (active_) setActive(false);
}

uint32_t Vst3Host::latency() const {
    return proc(processor_)->get_latency_samples(processor_);
}

template <typename T>
v3_result Vst3Host::processAny(T** in, T** out, uint32_t frames,
                               std::span<const Vst3Point> points) {
    if (frames > maxFrames_) return V3_INVALID_ARG;
    inChanges_.clear();
    for (const Vst3Point& p : points)
        inChanges_.add(p.id, p.offset, p.normalised);
    outChanges_.clear();
    size_t s = 0;
    const auto fill = [&](std::vector<v3_audio_bus_buffers>& bufs,
                          const std::vector<v3_bus_info>& buses, T** main, bool input) {
        for (size_t b = 0; b < bufs.size(); ++b) {
            v3_audio_bus_buffers& buf = bufs[b];
            buf = {};
            buf.num_channels = buses[b].channel_count;
            T** channels = main;
            if (b > 0) {
                channels = reinterpret_cast<T**>(scratchPtrs_.data() + s);
                for (int32_t c = 0; c < buf.num_channels; ++c) {
                    // Other buses hear silence.
                    if (input) std::memset(scratchPtrs_[s + c], 0, frames * sizeof(T));
                }
                s += static_cast<size_t>(buf.num_channels);
            }
            if constexpr (sizeof(T) == 8)
                buf.channel_buffers_64 = channels;
            else
                buf.channel_buffers_32 = channels;
        }
    };
    fill(inBufs_, inBuses_, in, true);
    fill(outBufs_, outBuses_, out, false);

    context_ = {};
    context_.state = V3_PROCESS_CTX_PLAYING | V3_PROCESS_CTX_PROJECT_TIME_VALID |
                     V3_PROCESS_CTX_TEMPO_VALID | V3_PROCESS_CTX_TIME_SIG_VALID |
                     V3_PROCESS_CTX_CONT_TIME_VALID;
    context_.sample_rate = rate_;
    context_.project_time_in_samples = position_;
    context_.continuous_time_in_samples = position_;
    context_.bpm = 120.0;
    context_.project_time_quarters = static_cast<double>(position_) / rate_ * 2.0;
    context_.time_sig_numerator = 4;
    context_.time_sig_denom = 4;

    v3_process_data data{};
    data.process_mode = V3_REALTIME;
    data.symbolic_sample_size = sizeof(T) == 8 ? V3_SAMPLE_64 : V3_SAMPLE_32;
    data.nframes = static_cast<int32_t>(frames);
    data.num_input_buses = static_cast<int32_t>(inBufs_.size());
    data.num_output_buses = static_cast<int32_t>(outBufs_.size());
    data.inputs = inBufs_.empty() ? nullptr : inBufs_.data();
    data.outputs = outBufs_.empty() ? nullptr : outBufs_.data();
    data.input_params = inChanges_.ptr();
    data.output_params = outChanges_.ptr();
    data.ctx = &context_;
    const v3_result r = proc(processor_)->process(processor_, &data);
    position_ += frames;
    return r;
}

v3_result Vst3Host::process(float** in, float** out, uint32_t frames,
                            std::span<const Vst3Point> points) {
    if (sampleSize_ != V3_SAMPLE_32) return V3_INVALID_ARG;
    return processAny(in, out, frames, points);
}

v3_result Vst3Host::process(double** in, double** out, uint32_t frames,
                            std::span<const Vst3Point> points) {
    if (sampleSize_ != V3_SAMPLE_64) return V3_INVALID_ARG;
    return processAny(in, out, frames, points);
}

std::optional<std::vector<uint8_t>> Vst3Host::saveState() const {
    vst3::Stream stream;
    if (v3_cpp_obj(component_)->get_state(component_, stream.ptr()) != V3_OK) return std::nullopt;
    return std::move(stream.bytes);
}

bool Vst3Host::loadState(std::span<const uint8_t> bytes) const {
    vst3::Stream stream;
    stream.bytes.assign(bytes.begin(), bytes.end());
    if (v3_cpp_obj(component_)->set_state(component_, stream.ptr()) != V3_OK) return false;
    // The controller reads the same bytes from their start.
    vst3::Stream again;
    again.bytes.assign(bytes.begin(), bytes.end());
    v3_cpp_obj(controller_)->set_component_state(controller_, again.ptr());
    return true;
}

bool Vst3Host::openView(unsigned long parent, double scale, std::string* why) {
    const auto fail = [&](const char* text) {
        if (why) *why = text;
        closeView();
        return false;
    };
    if (view_) return fail("the view is open already");
    view_ = v3_cpp_obj(controller_)->create_view(controller_, "editor");
    if (!view_) return fail("the controller made no view (create_view(\"editor\") gave null)");
    if (viewOf(view_)->is_platform_type_supported(view_, kPlatformType) != V3_OK)
        return fail("the view does not support X11EmbedWindowID");
    viewOf(view_)->set_frame(view_, services().frame());
    if (scale > 0.0) setViewScale(scale);
    if (viewOf(view_)->attached(view_, reinterpret_cast<void*>(parent), kPlatformType) != V3_OK)
        return fail("the view refused to attach to the window (attached answered an error)");
    return true;
}

bool Vst3Host::viewSize(int& width, int& height) const {
    v3_view_rect rect{};
    const bool known = view_ && viewOf(view_)->get_size(view_, &rect) == V3_OK;
    width = known ? rect.right - rect.left : 0;
    height = known ? rect.bottom - rect.top : 0;
    return width > 0 && height > 0;
}

bool Vst3Host::setViewScale(double scale) {
    if (!view_) return false;
    auto** s = static_cast<v3_plugin_view_content_scale**>(
        queryOf(view_, v3_plugin_view_content_scale_iid));
    if (!s) return false;
    const bool ok = (*reinterpret_cast<v3_plugin_view_content_scale_cpp**>(s))
                        ->scale.set_content_scale_factor(s, static_cast<float>(scale)) == V3_OK;
    unrefOf(s);
    return ok;
}

void Vst3Host::closeView() {
    if (!view_) return;
    v3_plugin_view** view = view_;
    view_ = nullptr;
    viewOf(view)->removed(view);
    viewOf(view)->set_frame(view, nullptr);
    unrefOf(view);
}

void Vst3Host::beginEdit(v3_param_id id) {
    note("begin_edit " + std::to_string(id));
    if (events_) events_->beginEdit(id);
}

void Vst3Host::performEdit(v3_param_id id, double normalised) {
    if (options_.trace) std::fprintf(options_.trace, "perform_edit %u %.6f\n", id, normalised);
    if (events_) events_->performEdit(id, normalised);
}

void Vst3Host::endEdit(v3_param_id id) {
    note("end_edit " + std::to_string(id));
    if (events_) events_->endEdit(id);
}

void Vst3Host::restartComponent(int32_t flags) {
    restartFlags_ |= flags;
    note("restart_component " + std::to_string(flags));
    if (events_) events_->restartComponent(flags);
}

bool Vst3Host::resizeView(v3_plugin_view** view, const v3_view_rect& rect) {
    note("resize_view " + std::to_string(rect.right - rect.left) + " " +
         std::to_string(rect.bottom - rect.top));
    const bool granted = events_ && events_->resizeView(view, rect);
    // A host that gives the size tells the view it has it.
    if (granted) {
        v3_view_rect r = rect;
        viewOf(view)->on_size(view, &r);
    }
    return granted;
}

void Vst3Host::note(const std::string& line) {
    if (options_.trace) std::fprintf(options_.trace, "%s\n", line.c_str());
    if (events_) events_->note(line);
}

}  // namespace kv::host
