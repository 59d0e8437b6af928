// The VST3 module as a host meets it: dlopen, its entry points, the
// factory, one object's component, processor and controller through their
// tables, and the editor through IPlugView in a private X server. The VST 2
// build, loaded the same way, is the reference for the samples; the state
// codec of the DSP core for the state's bytes.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <travesty/audio_processor.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/factory.h>
#include <travesty/view.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "common/identity.h"
#include "dsp/state_codec.h"
#include "host/validate/x11_input.h"
#include "tests/support/bad_states.h"
#include "tests/support/desktop_libraries.h"
#include "tests/vst3/host_objects.h"
#include "tests/x11/x_server.h"
#include "vst2/base/aeffect.h"

// After gtest, whose None Xlib would define away.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace kvtest::vst3;

constexpr double kRate = 48000.0;
constexpr int32_t kFrames = 512;
constexpr v3_tuid kClassId = V3_ID(kv::identity::kVst3ClassId[0], kv::identity::kVst3ClassId[1],
                                   kv::identity::kVst3ClassId[2], kv::identity::kVst3ClassId[3]);

std::string narrow(const int16_t* text) {
    std::string s;
    for (; *text; ++text)
        s += static_cast<char>(*text);
    return s;
}

std::vector<int16_t> wide(const char* text) {
    std::vector<int16_t> w(text, text + std::strlen(text));
    w.push_back(0);
    return w;
}

// The plug-in's three faces with one reference each, released at the end.
struct Instance {
    v3_component** component = nullptr;
    v3_audio_processor** processor = nullptr;
    v3_edit_controller** controller = nullptr;

    v3_component* comp() const { return v3_cpp_obj(component); }
    v3_edit_controller* ctrl() const { return v3_cpp_obj(controller); }
};

class Vst3Plugin : public ::testing::Test {
  protected:
    void SetUp() override {
        kvtest::loadDesktopLibraries();
        library_ = dlopen(KV_VST3_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(library_, "ModuleEntry"));
        ASSERT_NE(entry, nullptr);
        ASSERT_TRUE(entry(library_));
        auto get = reinterpret_cast<void* (*)()>(dlsym(library_, "GetPluginFactory"));
        ASSERT_NE(get, nullptr);
        factory_ = static_cast<v3_plugin_factory_cpp**>(get());
        ASSERT_NE(factory_, nullptr);
    }
    void TearDown() override {
        // As Ardour ends an instance: both faces terminated, then released.
        for (Instance& i : made_) {
            (*reinterpret_cast<v3_edit_controller_cpp**>(i.controller))
                ->base.terminate(i.controller);
            (*reinterpret_cast<v3_component_cpp**>(i.component))->base.terminate(i.component);
        }
        EXPECT_EQ(handler_.refs, 1) << "the last terminate lets the host's handler go";
        for (Instance& i : made_) {
            for (void** face :
                 {reinterpret_cast<void**>(i.component), reinterpret_cast<void**>(i.processor),
                  reinterpret_cast<void**>(i.controller)})
                if (face) static_cast<v3_funknown*>(*face)->unref(face);
        }
        if (library_) {
            reinterpret_cast<bool (*)()>(dlsym(library_, "ModuleExit"))();
            dlclose(library_);
        }
    }

    static uint32_t unref(void* face) { return (*static_cast<v3_funknown**>(face))->unref(face); }
    static uint32_t ref(void* face) { return (*static_cast<v3_funknown**>(face))->ref(face); }
    template <typename T>
    static T** query(void* face, const v3_tuid iid) {
        void* obj = nullptr;
        if ((*static_cast<v3_funknown**>(face))->query_interface(face, iid, &obj) != V3_OK)
            return nullptr;
        return static_cast<T**>(obj);
    }

    // An instance as Ardour makes one: the component, the controller asked
    // of it, both initialised, processing set up for 32 or 64 bits.
    Instance& make(int32_t sampleSize = V3_SAMPLE_32, bool activate = true) {
        Instance i;
        void* obj = nullptr;
        EXPECT_EQ((*factory_)->v1.create_instance(factory_, kClassId, v3_component_iid, &obj),
                  V3_OK);
        i.component = static_cast<v3_component**>(obj);
        i.processor = query<v3_audio_processor>(obj, v3_audio_processor_iid);
        i.controller = query<v3_edit_controller>(obj, v3_edit_controller_iid);
        EXPECT_NE(i.processor, nullptr);
        EXPECT_NE(i.controller, nullptr);
        made_.push_back(i);
        Instance& m = made_.back();
        EXPECT_EQ((*reinterpret_cast<v3_component_cpp**>(m.component))
                      ->base.initialize(m.component, nullptr),
                  V3_OK);
        EXPECT_EQ((*reinterpret_cast<v3_edit_controller_cpp**>(m.controller))
                      ->base.initialize(m.controller, nullptr),
                  V3_OK);
        if (activate) {
            v3_process_setup setup{V3_REALTIME, sampleSize, 4096, kRate};
            EXPECT_EQ(proc(m)->setup_processing(m.processor, &setup), V3_OK);
            EXPECT_EQ(m.comp()->set_active(m.component, 1), V3_OK);
            EXPECT_EQ(proc(m)->set_processing(m.processor, 1), V3_OK);
        }
        return m;
    }
    static v3_audio_processor* proc(const Instance& i) {
        return &(*reinterpret_cast<v3_audio_processor_cpp**>(i.processor))->proc;
    }

    // One block of the test signal through `i` with `changes`; the left
    // and right outputs one after the other.
    template <typename Sample>
    static std::vector<Sample> render(const Instance& i, Changes* changes, int32_t offset = 0) {
        std::vector<Sample> in(2 * kFrames), out(2 * kFrames);
        signal(in.data(), offset);
        Sample* inputs[2] = {in.data(), in.data() + kFrames};
        Sample* outputs[2] = {out.data(), out.data() + kFrames};
        v3_audio_bus_buffers inBus{}, outBus{};
        inBus.num_channels = outBus.num_channels = 2;
        if constexpr (sizeof(Sample) == 8) {
            inBus.channel_buffers_64 = inputs;
            outBus.channel_buffers_64 = outputs;
        } else {
            inBus.channel_buffers_32 = inputs;
            outBus.channel_buffers_32 = outputs;
        }
        v3_process_data data{};
        data.process_mode = V3_REALTIME;
        data.symbolic_sample_size = sizeof(Sample) == 8 ? V3_SAMPLE_64 : V3_SAMPLE_32;
        data.nframes = kFrames;
        data.num_input_buses = data.num_output_buses = 1;
        data.inputs = &inBus;
        data.outputs = &outBus;
        data.input_params = changes ? changes->ptr() : nullptr;
        EXPECT_EQ(proc(i)->process(i.processor, &data), V3_OK);
        return out;
    }
    template <typename Sample>
    static void signal(Sample* stereo, int32_t offset) {
        for (int32_t n = 0; n < kFrames; ++n) {
            const double t = (offset + n) / kRate;
            stereo[n] = static_cast<Sample>(0.7 * std::sin(2 * M_PI * 220 * t));
            stereo[kFrames + n] = static_cast<Sample>(0.4 * std::sin(2 * M_PI * 331 * t) + 0.2);
        }
    }

    // The host's handler outlives the instances, which release it last.
    Handler handler_;
    void* library_ = nullptr;
    v3_plugin_factory_cpp** factory_ = nullptr;
    std::deque<Instance> made_;  // references to its elements stay valid
};

TEST_F(Vst3Plugin, FactoryDescribesOneDistortionEffectClass) {
    v3_plugin_factory_cpp* f = *factory_;
    for (const auto* iid :
         {&v3_plugin_factory_iid, &v3_plugin_factory_2_iid, &v3_plugin_factory_3_iid})
        EXPECT_EQ(query<void>(factory_, *iid), static_cast<void*>(factory_));
    EXPECT_EQ(query<void>(factory_, v3_component_iid), nullptr);

    v3_factory_info info{};
    ASSERT_EQ(f->v1.get_factory_info(factory_, &info), V3_OK);
    EXPECT_STREQ(info.vendor, "Harrow Quill");
    ASSERT_EQ(f->v1.num_classes(factory_), 1);
    v3_class_info_2 c2{};
    ASSERT_EQ(f->v2.get_class_info_2(factory_, 0, &c2), V3_OK);
    EXPECT_TRUE(v3_tuid_match(c2.class_id, kClassId));
    EXPECT_STREQ(c2.category, "Audio Module Class");
    EXPECT_STREQ(c2.name, "KV23-T ZuDiz");
    EXPECT_STREQ(c2.sub_categories, "Fx|Distortion");
    EXPECT_STREQ(c2.vendor, "Harrow Quill");
    EXPECT_STREQ(c2.version, KV_PROJECT_VERSION);
    v3_class_info_3 c3{};
    ASSERT_EQ(f->v3.get_class_info_utf16(factory_, 0, &c3), V3_OK);
    EXPECT_EQ(narrow(c3.name), "KV23-T ZuDiz");
    EXPECT_EQ(narrow(c3.version), KV_PROJECT_VERSION);
    EXPECT_NE(f->v2.get_class_info_2(factory_, 1, &c2), V3_OK);

    // The textual UID hosts store: the four words as Linux hosts print them.
    char uid[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(uid + 2 * i, 3, "%02X", c2.class_id[i]);
    EXPECT_STREQ(uid, "4B5632335A7544697A56433348517531");

    void* obj = reinterpret_cast<void*>(1);
    const v3_tuid other = V3_ID(1, 2, 3, 4);
    EXPECT_NE(f->v1.create_instance(factory_, other, v3_component_iid, &obj), V3_OK);
    EXPECT_EQ(obj, nullptr);
    EXPECT_NE(f->v1.create_instance(factory_, kClassId, v3_plugin_view_iid, &obj), V3_OK);
    EXPECT_EQ(obj, nullptr);
}

TEST_F(Vst3Plugin, OneCountForEveryInterfaceAndInitializeTwice) {
    void* obj = nullptr;
    ASSERT_EQ((*factory_)->v1.create_instance(factory_, kClassId, v3_audio_processor_iid, &obj),
              V3_OK);
    auto** component = query<v3_component>(obj, v3_component_iid);
    auto** controller = query<v3_edit_controller>(component, v3_edit_controller_iid);
    ASSERT_NE(component, nullptr);
    ASSERT_NE(controller, nullptr);
    EXPECT_EQ(query<void>(obj, v3_plugin_view_iid), nullptr);
    EXPECT_EQ(ref(controller), 4u);
    EXPECT_EQ(unref(controller), 3u);
    // Ardour initialises the component and then the controller it got
    // from it: the same object, twice; each terminate is answered.
    auto& base = (*reinterpret_cast<v3_component_cpp**>(component))->base;
    auto& cbase = (*reinterpret_cast<v3_edit_controller_cpp**>(controller))->base;
    EXPECT_EQ(base.initialize(component, nullptr), V3_OK);
    EXPECT_EQ(cbase.initialize(controller, nullptr), V3_OK);
    EXPECT_EQ(cbase.terminate(controller), V3_OK);
    EXPECT_EQ(base.terminate(component), V3_OK);
    EXPECT_NE(base.terminate(component), V3_OK);
    // Ardour's scanner lets the component go while it holds the processor.
    EXPECT_EQ(unref(component), 2u);
    EXPECT_EQ(unref(controller), 1u);
    v3_speaker_arrangement stereo = V3_SPEAKER_L | V3_SPEAKER_R;
    EXPECT_EQ((*static_cast<v3_audio_processor_cpp**>(obj))
                  ->proc.get_bus_arrangement(obj, V3_OUTPUT, 0, &stereo),
              V3_OK);
    EXPECT_EQ(unref(obj), 0u);
}

TEST_F(Vst3Plugin, OneStereoBusEachWayAt32And64Bits) {
    Instance& i = make(V3_SAMPLE_32, false);
    for (int32_t dir : {V3_INPUT, V3_OUTPUT}) {
        EXPECT_EQ(i.comp()->get_bus_count(i.component, V3_AUDIO, dir), 1);
        EXPECT_EQ(i.comp()->get_bus_count(i.component, V3_EVENT, dir), 0);
        v3_bus_info bus{};
        ASSERT_EQ(i.comp()->get_bus_info(i.component, V3_AUDIO, dir, 0, &bus), V3_OK);
        EXPECT_EQ(bus.channel_count, 2);
        EXPECT_EQ(bus.bus_type, V3_MAIN);
        EXPECT_NE(i.comp()->get_bus_info(i.component, V3_AUDIO, dir, 1, &bus), V3_OK);
    }
    v3_speaker_arrangement stereo = V3_SPEAKER_L | V3_SPEAKER_R, mono = V3_SPEAKER_M;
    v3_speaker_arrangement two[2] = {stereo, stereo};
    EXPECT_EQ(proc(i)->set_bus_arrangements(i.processor, &stereo, 1, &stereo, 1), V3_OK);
    EXPECT_NE(proc(i)->set_bus_arrangements(i.processor, &mono, 1, &stereo, 1), V3_OK);
    EXPECT_NE(proc(i)->set_bus_arrangements(i.processor, &stereo, 1, &mono, 1), V3_OK);
    EXPECT_NE(proc(i)->set_bus_arrangements(i.processor, two, 2, &stereo, 1), V3_OK);
    EXPECT_EQ(proc(i)->can_process_sample_size(i.processor, V3_SAMPLE_32), V3_OK);
    EXPECT_EQ(proc(i)->can_process_sample_size(i.processor, V3_SAMPLE_64), V3_OK);
    EXPECT_NE(proc(i)->can_process_sample_size(i.processor, 7), V3_OK);
    for (double rate : {0.0, 30.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity()}) {
        v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, 512, rate};
        EXPECT_NE(proc(i)->setup_processing(i.processor, &setup), V3_OK) << rate;
    }
}

TEST_F(Vst3Plugin, ParametersAreTheTablesWithThePanelsTexts) {
    Instance& i = make(V3_SAMPLE_32, false);
    v3_edit_controller* c = i.ctrl();
    ASSERT_EQ(c->get_parameter_count(i.controller), 5);
    const struct {
        const char* name;
        const char* units;
        int32_t steps;
        double def, min, max;
    } want[] = {{"Gain", "dB", 0, 0.25, -8, 24},
                {"Pad 1", "", 1, 0, 0, 1},
                {"Pad 2", "", 1, 0, 0, 1},
                {"Volume", "dB", 0, 0.5, -32, 32},
                {"Quality", "", 1, 0, 0, 1}};
    for (int32_t p = 0; p < 5; ++p) {
        v3_param_info info{};
        ASSERT_EQ(c->get_parameter_info(i.controller, p, &info), V3_OK);
        EXPECT_EQ(info.param_id, static_cast<v3_param_id>(p));
        EXPECT_EQ(narrow(info.title), want[p].name);
        EXPECT_EQ(narrow(info.units), want[p].units);
        EXPECT_EQ(info.step_count, want[p].steps);
        EXPECT_EQ(info.default_normalised_value, want[p].def);
        EXPECT_EQ(info.flags, V3_PARAM_CAN_AUTOMATE);
        EXPECT_EQ(c->normalised_parameter_to_plain(i.controller, p, 0.0), want[p].min);
        EXPECT_EQ(c->normalised_parameter_to_plain(i.controller, p, 1.0), want[p].max);
        EXPECT_EQ(c->get_parameter_normalised(i.controller, p), want[p].def);
    }
    v3_param_info info{};
    EXPECT_NE(c->get_parameter_info(i.controller, 5, &info), V3_OK);
    EXPECT_EQ(c->plain_parameter_to_normalised(i.controller, 3, -3.5), (-3.5 + 32) / 64);
    EXPECT_EQ(c->plain_parameter_to_normalised(i.controller, 0, 99.0), 1.0);

    v3_str_128 text{};
    ASSERT_EQ(c->get_parameter_string_for_value(i.controller, 3, (-3.5 + 32) / 64, text), V3_OK);
    EXPECT_EQ(narrow(text), "-3.50");
    ASSERT_EQ(c->get_parameter_string_for_value(i.controller, 1, 1.0, text), V3_OK);
    EXPECT_EQ(narrow(text), "on");
    EXPECT_NE(c->get_parameter_string_for_value(i.controller, 9, 1.0, text), V3_OK);
    const struct {
        v3_param_id id;
        const char* text;
        double value;
    } read[] = {{3, "-3,5", (-3.5 + 32) / 64},
                {3, " +6 dB", (6.0 + 32) / 64},
                {0, "100", 1.0},
                {2, "on", 1.0},
                {2, "off", 0.0},
                {1, "0.75", 1.0}};
    for (const auto& r : read) {
        double value = -1;
        auto typed = wide(r.text);
        ASSERT_EQ(c->get_parameter_value_for_string(i.controller, r.id, typed.data(), &value),
                  V3_OK)
            << r.text;
        EXPECT_FLOAT_EQ(value, r.value) << r.text;
    }
    for (const char* none : {"", "dB", "-", "nan"}) {
        double value = 0;
        auto typed = wide(none);
        EXPECT_NE(c->get_parameter_value_for_string(i.controller, 0, typed.data(), &value), V3_OK)
            << none;
    }
    EXPECT_NE(
        c->set_parameter_normalised(i.controller, 0, std::numeric_limits<double>::quiet_NaN()),
        V3_OK);
    EXPECT_EQ(c->set_parameter_normalised(i.controller, 0, 7.0), V3_OK);
    EXPECT_EQ(c->get_parameter_normalised(i.controller, 0), 1.0);
}

TEST_F(Vst3Plugin, BlocksWithoutPointsAreTheVst2BuildsAt32And64Bits) {
    void* vst = dlopen(KV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(vst, nullptr) << dlerror();
    auto main = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(dlsym(vst, "VSTPluginMain"));
    const float settings[4] = {static_cast<float>((17.25 + 8) / 32), 1.0f, 0.0f,
                               static_cast<float>((-4.5 + 32) / 64)};
    for (int32_t size : {V3_SAMPLE_32, V3_SAMPLE_64}) {
        AEffect* e = main([](AEffect*, int32_t op, int32_t, intptr_t, void*, float) -> intptr_t {
            return op == audioMasterVersion ? 2400 : 0;
        });
        ASSERT_NE(e, nullptr);
        e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
        e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
        Instance& i = make(size);
        Changes set;
        for (int32_t p = 0; p < 4; ++p) {
            e->setParameter(e, p, settings[p]);
            set.add(p, 0, settings[p]);
        }
        for (int32_t block = 0; block < 4; ++block) {
            const int32_t at = block * kFrames;
            Changes* changes = block == 0 ? &set : nullptr;
            if (size == V3_SAMPLE_32) {
                std::vector<float> in(2 * kFrames), out(2 * kFrames);
                signal(in.data(), at);
                float* ins[2] = {in.data(), in.data() + kFrames};
                float* outs[2] = {out.data(), out.data() + kFrames};
                e->processReplacing(e, ins, outs, kFrames);
                EXPECT_EQ(render<float>(i, changes, at), out) << "32-bit block " << block;
            } else {
                std::vector<double> in(2 * kFrames), out(2 * kFrames);
                signal(in.data(), at);
                double* ins[2] = {in.data(), in.data() + kFrames};
                double* outs[2] = {out.data(), out.data() + kFrames};
                e->processDoubleReplacing(e, ins, outs, kFrames);
                EXPECT_EQ(render<double>(i, changes, at), out) << "64-bit block " << block;
            }
        }
        e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    }
    dlclose(vst);
}

TEST_F(Vst3Plugin, APointTakesEffectAtItsSample) {
    const Instance& plain = make();
    const Instance& stepped = make();
    Changes step;
    step.add(3, 100, (12.0 + 32) / 64);  // volume +12 dB from sample 100 on
    step.add(0, 0, 0.25);                // a point at the start of another queue
    const auto before = render<float>(plain, nullptr);
    const auto after = render<float>(stepped, &step);
    for (int32_t ch = 0; ch < 2; ++ch) {
        for (int32_t n = 0; n < kFrames; ++n) {
            const float a = before[ch * kFrames + n], b = after[ch * kFrames + n];
            if (n < 100) {
                ASSERT_EQ(a, b) << "channel " << ch << " sample " << n;
            } else if (std::fabs(a) > 1e-3f) {
                ASSERT_NEAR(b / a, std::pow(10.0, 12.0 / 20), 1e-3)
                    << "channel " << ch << " sample " << n;
            }
        }
    }
    // Points out of order, past the end, for an unknown id or NaN: the
    // values end as the last valid point of each parameter says.
    Changes odd;
    odd.add(0, 300, 0.5);
    odd.add(0, 200, 0.75);
    odd.add(3, 5000, 0.25);
    odd.add(77, 0, 1.0);
    odd.add(2, 0, std::numeric_limits<double>::quiet_NaN());
    render<float>(stepped, &odd);
    EXPECT_EQ(stepped.ctrl()->get_parameter_normalised(stepped.controller, 0), 0.75);
    EXPECT_EQ(stepped.ctrl()->get_parameter_normalised(stepped.controller, 3), 0.25);
    EXPECT_EQ(stepped.ctrl()->get_parameter_normalised(stepped.controller, 2), 0.0);

    // A parameter flush (no frames, no buffers) sets the value, and the
    // sound goes on as if the point had come with the next block: two
    // blocks bit for bit, so that a flush does not count as one.
    const Instance& flushed = make();
    const Instance& direct = make();
    Changes early;
    early.add(3, 0, (12.0 + 32) / 64);
    v3_process_data flush{};
    flush.symbolic_sample_size = V3_SAMPLE_64;
    flush.input_params = early.ptr();
    ASSERT_EQ(proc(flushed)->process(flushed.processor, &flush), V3_OK);
    EXPECT_EQ(flushed.ctrl()->get_parameter_normalised(flushed.controller, 3), (12.0 + 32) / 64);
    EXPECT_EQ(render<double>(flushed, nullptr), render<double>(direct, &early));
    EXPECT_EQ(render<double>(flushed, nullptr, kFrames), render<double>(direct, nullptr, kFrames));
}

// Clean is Exact late by exactly what get_latency_samples says (a null
// test: one sample either way does not cancel), and a change of quality
// through the controller tells the host that the latency changed.
TEST_F(Vst3Plugin, CleanIsLateByExactlyTheLatencyItReports) {
    auto left = [&](bool clean, uint32_t& latency) {
        Instance& i = make();
        Changes set;
        set.add(0, 0, 1.0);  // full drive, Pad 1
        set.add(1, 0, 1.0);
        set.add(4, 0, clean ? 1.0 : 0.0);
        std::vector<double> out;
        for (int32_t block = 0; block < 40; ++block) {
            const auto both = render<float>(i, block == 0 ? &set : nullptr, block * kFrames);
            out.insert(out.end(), both.begin(), both.begin() + kFrames);
        }
        latency = proc(i)->get_latency_samples(i.processor);
        return out;
    };
    uint32_t exactLatency = 99, lag = 0;
    const std::vector<double> e = left(false, exactLatency), c = left(true, lag);
    EXPECT_EQ(exactLatency, 0u);
    ASSERT_GT(lag, 0u);
    auto errorDb = [&](size_t shift) {
        double error = 0, signal = 0;
        for (size_t n = e.size() / 2; n + shift < c.size(); ++n) {
            error += (c[n + shift] - e[n]) * (c[n + shift] - e[n]);
            signal += e[n] * e[n];
        }
        return 10 * std::log10(error / signal);
    };
    EXPECT_LT(errorDb(lag), -100.0);
    EXPECT_GT(errorDb(lag - 1), -50.0);
    EXPECT_GT(errorDb(lag + 1), -50.0);

    Instance& i = make();
    ASSERT_EQ(i.ctrl()->set_component_handler(i.controller, handler_.ptr()), V3_OK);
    ASSERT_EQ(i.ctrl()->set_parameter_normalised(i.controller, 4, 1.0), V3_OK);
    EXPECT_EQ(handler_.edits, std::vector<std::string>{"restart 8"});
    EXPECT_EQ(proc(i)->get_latency_samples(i.processor), lag);
    ASSERT_EQ(i.ctrl()->set_parameter_normalised(i.controller, 4, 1.0), V3_OK);
    EXPECT_EQ(handler_.edits.size(), 1u) << "the same quality again changes nothing";
}

TEST_F(Vst3Plugin, StateIsTheCodecsRecordThroughAnyStream) {
    Instance& a = make();
    // Every parameter, the quality at Exact.
    const float values[kv::opamp::kNumAllParams] = {0.6f, 0.0f, 1.0f, 0.375f, 0.0f};
    Changes set;
    for (int32_t p = 0; p < kv::opamp::kNumAllParams; ++p)
        set.add(p, 0, values[p]);
    render<float>(a, &set);
    Stream saved;
    ASSERT_EQ(a.comp()->get_state(a.component, saved.ptr()), V3_OK);
    unsigned char record[kv::opamp::kRecordSize];
    kv::opamp::encodeRecord(values, record);
    EXPECT_EQ(saved.bytes, std::vector<unsigned char>(record, record + sizeof record));

    // What a fresh instance with these settings sounds like.
    const auto expected = render<float>(make(), &set);

    // The component and the controller read the same bytes, also from a
    // window of a larger blob (reading no further than the record) and
    // from a stream that cannot seek.
    for (int way = 0; way < 3; ++way) {
        Instance& b = make();
        Stream in;
        in.bytes.assign(3, 9);
        for (unsigned char byte : saved.bytes)
            in.bytes.push_back(byte);
        in.bytes.resize(in.bytes.size() + 2, 8);
        in.begin = 3;
        in.end = 3 + saved.bytes.size();
        in.canSeek = way != 2;
        if (way == 0) {
            ASSERT_EQ(b.comp()->set_state(b.component, in.ptr()), V3_OK);
        } else {
            ASSERT_EQ(b.ctrl()->set_component_state(b.controller, in.ptr()), V3_OK);
        }
        EXPECT_EQ(in.pos, saved.bytes.size());
        for (int32_t p = 0; p < kv::opamp::kNumAllParams; ++p)
            EXPECT_EQ(b.ctrl()->get_parameter_normalised(b.controller, p), values[p]) << way;
        EXPECT_EQ(render<float>(b, nullptr), expected);
    }

    // A record of the first release (version 1, the four values) loads as
    // Exact.
    {
        Instance& old = make();
        ASSERT_EQ(old.ctrl()->set_parameter_normalised(old.controller, kv::opamp::kQuality, 1.0),
                  V3_OK);
        Stream v1;
        v1.bytes.assign(saved.bytes.begin(), saved.bytes.begin() + kv::opamp::kRecordSizeV1);
        v1.bytes[4] = 1;
        ASSERT_EQ(old.comp()->set_state(old.component, v1.ptr()), V3_OK);
        for (int32_t p = 0; p < kv::opamp::kNumAllParams; ++p)
            EXPECT_EQ(old.ctrl()->get_parameter_normalised(old.controller, p), values[p]);
    }

    // Short, long, another version, a value out of range, garbage: refused
    // by both, and the values stay.
    const auto bad = kv::test::badStates(saved.bytes, 400);
    for (const auto& bytes : bad) {
        Stream s1, s2;
        s1.bytes = s2.bytes = bytes;
        ASSERT_NE(a.comp()->set_state(a.component, s1.ptr()), V3_OK);
        ASSERT_NE(a.ctrl()->set_component_state(a.controller, s2.ptr()), V3_OK);
        for (int32_t p = 0; p < kv::opamp::kNumAllParams; ++p)
            ASSERT_EQ(a.ctrl()->get_parameter_normalised(a.controller, p), values[p]);
    }
}

// --- the editor, in a window of a private X server ---

class Vst3View : public Vst3Plugin {
  protected:
    void SetUp() override {
        Vst3Plugin::SetUp();
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr);
        parent_ =
            XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 600, 900, 0, 0, 0);
        XMapWindow(display_, parent_);
        XSync(display_, False);
    }
    void TearDown() override {
        Vst3Plugin::TearDown();
        if (display_) XCloseDisplay(display_);
    }
    v3_plugin_view** viewOf(const Instance& i) {
        return i.ctrl()->create_view(i.controller, "editor");
    }
    static v3_plugin_view* v(v3_plugin_view** view) { return v3_cpp_obj(view); }
    void* parent() const { return reinterpret_cast<void*>(parent_); }

    Display* display_ = nullptr;
    Window parent_ = 0;
};

TEST_F(Vst3View, RunsOnTheHostsRunLoopAtTheHostsScale) {
    Instance& i = make();
    ASSERT_EQ(i.ctrl()->set_component_handler(i.controller, handler_.ptr()), V3_OK);
    EXPECT_EQ(i.ctrl()->create_view(i.controller, "other"), nullptr);

    // Without a run loop: no panel, and the host is told so.
    v3_plugin_view** view = viewOf(i);
    ASSERT_NE(view, nullptr);
    Frame lonely;
    lonely.withRunLoop = false;
    EXPECT_EQ(v(view)->is_platform_type_supported(view, "X11EmbedWindowID"), V3_OK);
    EXPECT_NE(v(view)->is_platform_type_supported(view, "HWND"), V3_OK);
    ASSERT_EQ(v(view)->set_frame(view, lonely.ptr()), V3_OK);
    EXPECT_NE(v(view)->attached(view, parent(), "X11EmbedWindowID"), V3_OK);
    EXPECT_EQ(v(view)->set_frame(view, nullptr), V3_OK);
    EXPECT_EQ(lonely.refs, 1);

    // With one, at the host's factor 2: 480 x 800, whatever KV23_SCALE says.
    setenv("KV23_SCALE", "3", 1);
    Frame frame;
    auto** scale = query<v3_plugin_view_content_scale>(view, v3_plugin_view_content_scale_iid);
    ASSERT_NE(scale, nullptr);
    auto* scaler = &(*reinterpret_cast<v3_plugin_view_content_scale_cpp**>(scale))->scale;
    EXPECT_NE(scaler->set_content_scale_factor(scale, std::numeric_limits<float>::quiet_NaN()),
              V3_OK);
    ASSERT_EQ(scaler->set_content_scale_factor(scale, 2.0f), V3_OK);
    ASSERT_EQ(v(view)->set_frame(view, frame.ptr()), V3_OK);
    ASSERT_EQ(v(view)->attached(view, parent(), "X11EmbedWindowID"), V3_OK);
    unsetenv("KV23_SCALE");
    ASSERT_EQ(frame.timers.size(), 1u);
    v3_view_rect rect{};
    ASSERT_EQ(v(view)->get_size(view, &rect), V3_OK);
    EXPECT_EQ(rect.right - rect.left, 480);
    EXPECT_EQ(rect.bottom - rect.top, 800);
    // A second view of the same instance gets no panel while this one is open.
    v3_plugin_view** second = viewOf(i);
    Frame other;
    v(second)->set_frame(second, other.ptr());
    EXPECT_NE(v(second)->attached(second, parent(), "X11EmbedWindowID"), V3_OK);
    v(second)->set_frame(second, nullptr);
    unref(second);

    // A new factor while open: the host's window is asked for the new size.
    ASSERT_EQ(scaler->set_content_scale_factor(scale, 1.0f), V3_OK);
    ASSERT_FALSE(frame.resizes.empty());
    EXPECT_EQ(frame.resizes.back().right, 240);
    EXPECT_EQ(frame.resizes.back().bottom, 400);
    unref(scale);

    // Host automation reaches the panel at the next tick; nothing reaches
    // the host from it.
    i.ctrl()->set_parameter_normalised(i.controller, 1, 1.0);
    frame.fire();
    EXPECT_TRUE(handler_.edits.empty());

    EXPECT_EQ(v(view)->removed(view), V3_OK);
    EXPECT_TRUE(frame.timers.empty());
    EXPECT_EQ(frame.runLoopRefs, 0);
    v(view)->set_frame(view, nullptr);
    EXPECT_EQ(frame.refs, 1);
    EXPECT_EQ(unref(view), 0u);
    EXPECT_EQ(handler_.refs, 2);
}

// A host sizes its window from get_size before attached, when the view
// does not know its screen; on a dense desktop (Xft.dpi 192) the panel
// opens at 2 and asks the host for that size through the frame.
TEST_F(Vst3View, AskedForItsSizeBeforeAttachedItAsksTheFrameForTheDesktopsSize) {
    Instance& i = make();
    const char dense[] = "Xft.dpi:\t192\n";
    XChangeProperty(display_, DefaultRootWindow(display_), XA_RESOURCE_MANAGER, XA_STRING, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(dense),
                    sizeof dense - 1);
    XSync(display_, False);
    v3_plugin_view** view = viewOf(i);
    Frame frame;
    v(view)->set_frame(view, frame.ptr());
    v3_view_rect told{};
    ASSERT_EQ(v(view)->get_size(view, &told), V3_OK);
    EXPECT_EQ(told.right - told.left, 240);
    const v3_result attached = v(view)->attached(view, parent(), "X11EmbedWindowID");
    XDeleteProperty(display_, DefaultRootWindow(display_), XA_RESOURCE_MANAGER);
    XSync(display_, False);
    ASSERT_EQ(attached, V3_OK);
    ASSERT_EQ(frame.resizes.size(), 1u);
    EXPECT_EQ(frame.resizes[0].right - frame.resizes[0].left, 480);
    EXPECT_EQ(frame.resizes[0].bottom - frame.resizes[0].top, 800);
    v(view)->removed(view);
    v(view)->set_frame(view, nullptr);
    EXPECT_EQ(unref(view), 0u);
}

TEST_F(Vst3View, AHostMayLetTheViewGoFromInsideAnEdit) {
    Instance& i = make();
    i.ctrl()->set_component_handler(i.controller, handler_.ptr());
    v3_plugin_view** view = viewOf(i);
    Frame frame;
    v(view)->set_frame(view, frame.ptr());
    ASSERT_EQ(v(view)->attached(view, parent(), "X11EmbedWindowID"), V3_OK);
    // The panel's first edit closes and releases the view from inside it.
    handler_.answer = [&] {
        handler_.answer = nullptr;
        v(view)->removed(view);
        v(view)->set_frame(view, nullptr);
        unref(view);
    };
    // A click on Pad 1, by the X server's own input.
    std::string why;
    const auto input = kv::validate::XInput::open(why);
    ASSERT_NE(input, nullptr) << why;
    const unsigned long child = input->firstChild(parent_);
    int x = 0, y = 0;
    ASSERT_TRUE(input->origin(child, x, y));
    input->moveTo(x + 75, y + 39);
    input->button(1, true);
    for (int n = 0; n < 20 && !frame.timers.empty(); ++n) {
        frame.fire();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    input->button(1, false);
    ASSERT_FALSE(handler_.edits.empty()) << "the click reached no control";
    EXPECT_EQ(handler_.edits.front(), "begin 1");
    EXPECT_TRUE(frame.timers.empty());
    EXPECT_EQ(frame.refs, 1);
}

TEST_F(Vst3View, ADragNeverHoldsTheRunLoopAndIsHeardWhileHeld) {
    Instance& i = make();
    i.ctrl()->set_component_handler(i.controller, handler_.ptr());
    v3_plugin_view** view = viewOf(i);
    Frame frame;
    v(view)->set_frame(view, frame.ptr());
    ASSERT_EQ(v(view)->attached(view, parent(), "X11EmbedWindowID"), V3_OK);
    std::string why;
    const auto input = kv::validate::XInput::open(why);
    ASSERT_NE(input, nullptr) << why;
    int x = 0, y = 0;
    ASSERT_TRUE(input->origin(input->firstChild(parent_), x, y));
    // The gain knob's centre, pressed and dragged upwards for 200 ms and
    // more while the host's timer runs: each tick returns at once. A tick
    // that held the host until the button is up would last the whole drag;
    // one tick is given 100 ms, room for a loaded or instrumented build.
    input->moveTo(x + 120, y + 130);
    input->button(1, true);
    double longest = 0.0;
    for (int step = 0; step < 40; ++step) {
        if (step % 4 == 0) input->moveTo(x + 120, y + 130 - step);
        const auto start = std::chrono::steady_clock::now();
        frame.fire();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto held = handler_.edits;
    input->button(1, false);
    for (int n = 0; n < 5; ++n)
        frame.fire();
    EXPECT_LT(longest, 100.0);
    std::printf("longest tick during the drag: %.2f ms\n", longest);
    ASSERT_GE(held.size(), 2u) << "nothing reached the host while the button was held";
    EXPECT_EQ(held.front(), "begin 0");
    EXPECT_EQ(held[1].rfind("perform 0 ", 0), 0u) << held[1];
    EXPECT_EQ(handler_.edits.back(), "end 0");
    EXPECT_GT(i.ctrl()->get_parameter_normalised(i.controller, 0), 0.25);
    v(view)->removed(view);
    v(view)->set_frame(view, nullptr);
    unref(view);
}

// The LED's pixels on the open panel.
std::vector<unsigned long> ledPixels(Display* display, Window panel) {
    XImage* image = XGetImage(display, panel, 180, 307, 28, 28, AllPlanes, ZPixmap);
    std::vector<unsigned long> pixels;
    if (!image) return pixels;
    for (int y = 0; y < 28; ++y)
        for (int x = 0; x < 28; ++x)
            pixels.push_back(XGetPixel(image, x, y));
    XDestroyImage(image);
    return pixels;
}

TEST_F(Vst3View, TheLedShowsTheProcessorsPeak) {
    Instance& i = make();
    v3_plugin_view** view = viewOf(i);
    Frame frame;
    v(view)->set_frame(view, frame.ptr());
    ASSERT_EQ(v(view)->attached(view, parent(), "X11EmbedWindowID"), V3_OK);
    Window root = 0, up = 0, *children = nullptr;
    unsigned int count = 0;
    XQueryTree(display_, parent_, &root, &up, &children, &count);
    ASSERT_EQ(count, 1u);
    const Window panel = children[0];
    XFree(children);
    auto settle = [&] {
        for (int n = 0; n < 10; ++n) {
            frame.fire();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        XSync(display_, False);
        return ledPixels(display_, panel);
    };
    const auto dark = settle();
    ASSERT_FALSE(dark.empty());
    Changes loud;
    loud.add(3, 0, 1.0);  // +32 dB: far above full scale
    render<float>(i, &loud);
    const auto lit = settle();
    EXPECT_NE(lit, dark);
    v(view)->removed(view);
    v(view)->set_frame(view, nullptr);
    unref(view);
}

TEST_F(Vst3View, PanelAndAudioRunTogether) {
    Instance& i = make();
    i.ctrl()->set_component_handler(i.controller, handler_.ptr());
    v3_plugin_view** view = viewOf(i);
    Frame frame;
    v(view)->set_frame(view, frame.ptr());
    ASSERT_EQ(v(view)->attached(view, parent(), "X11EmbedWindowID"), V3_OK);
    std::atomic<bool> stop{false};
    // The quality switches both ways, by automation on the audio thread and
    // from the host's main thread.
    std::thread audio([&] {
        for (int block = 0; !stop.load(); ++block) {
            Changes changes;
            changes.add(0, block % kFrames, (block % 10) / 10.0);
            changes.add(4, (block * 7) % kFrames, (block / 3) % 2);
            render<float>(i, &changes, block * kFrames);
        }
    });
    for (int n = 0; n < 100; ++n) {
        i.ctrl()->set_parameter_normalised(i.controller, 3, (n % 7) / 7.0);
        i.ctrl()->set_parameter_normalised(i.controller, 4, (n / 5) % 2);
        frame.fire();
        if (n == 50) {
            // Closed and opened again while the audio runs: the LED's cell
            // goes back and forth.
            v(view)->removed(view);
            ASSERT_EQ(v(view)->attached(view, parent(), "X11EmbedWindowID"), V3_OK);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
    audio.join();
    v(view)->removed(view);
    v(view)->set_frame(view, nullptr);
    EXPECT_EQ(unref(view), 0u);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The editor's tests need a display: a private X server, or none.
    if (std::getenv("KV_VST3_NO_DISPLAY")) {
        ::testing::GTEST_FLAG(filter) = "-Vst3View.*";
        return RUN_ALL_TESTS();
    }
    return kvtest::runAllTestsOnPrivateServer("VST3 plug-in tests");
}
