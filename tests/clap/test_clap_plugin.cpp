// The CLAP plug-in file as a host meets it: dlopen, clap_entry, the factory,
// the plug-in and its extensions. The VST 2 build, loaded the same way, is
// the reference for its samples.
#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host/validate/failing_new.h"
#include "tests/support/bad_states.h"
#include "tests/support/desktop_libraries.h"
#include "vst2/base/aeffect.h"

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kFrames = 512;

const void* noExtension(const clap_host_t*, const char*) {
    return nullptr;
}
void noRequest(const clap_host_t*) {}

const clap_host_t kHost = {CLAP_VERSION_INIT, nullptr,   "kv23 test", "Harrow Quill", "", "1",
                           noExtension,       noRequest, noRequest,   noRequest};

// A list of parameter events for process and flush.
struct Events {
    std::vector<clap_event_param_value_t> list;
    clap_input_events_t in{this, size, get};

    void add(uint32_t time, clap_id id, double value) {
        clap_event_param_value_t e{};
        e.header = {sizeof e, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        e.param_id = id;
        e.note_id = -1;
        e.port_index = e.channel = e.key = -1;
        e.value = value;
        list.push_back(e);
    }
    static uint32_t size(const clap_input_events_t* in) {
        return static_cast<uint32_t>(static_cast<Events*>(in->ctx)->list.size());
    }
    static const clap_event_header_t* get(const clap_input_events_t* in, uint32_t i) {
        return &static_cast<Events*>(in->ctx)->list.at(i).header;
    }
};

// Bytes as a CLAP stream, written or read in pieces of at most `chunk`.
struct Stream {
    std::vector<unsigned char> bytes;
    size_t pos = 0;
    size_t chunk = 7;
    clap_ostream_t out{this, write};
    clap_istream_t in{this, read};

    static int64_t write(const clap_ostream_t* s, const void* data, uint64_t size) {
        auto& self = *static_cast<Stream*>(s->ctx);
        const size_t n = std::min<size_t>(size, self.chunk);
        const auto* p = static_cast<const unsigned char*>(data);
        self.bytes.insert(self.bytes.end(), p, p + n);
        return static_cast<int64_t>(n);
    }
    static int64_t read(const clap_istream_t* s, void* data, uint64_t size) {
        auto& self = *static_cast<Stream*>(s->ctx);
        const size_t n =
            std::min<size_t>({static_cast<size_t>(size), self.chunk, self.bytes.size() - self.pos});
        if (n > 0) std::memcpy(data, self.bytes.data() + self.pos, n);
        self.pos += n;
        return static_cast<int64_t>(n);
    }
};

class ClapPlugin : public ::testing::Test {
  protected:
    void SetUp() override {
        kvtest::loadDesktopLibraries();
        library_ = dlopen(KV_CLAP_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        entry_ = static_cast<const clap_plugin_entry_t*>(dlsym(library_, "clap_entry"));
        ASSERT_NE(entry_, nullptr);
        ASSERT_TRUE(entry_->init(KV_CLAP_PATH));
        factory_ =
            static_cast<const clap_plugin_factory_t*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
        ASSERT_NE(factory_, nullptr);
    }
    void TearDown() override {
        for (const clap_plugin_t* p : made_)
            p->destroy(p);
        if (entry_) entry_->deinit();
        if (library_) dlclose(library_);
    }
    const clap_plugin_t* make(bool activate = true) {
        const clap_plugin_t* p = factory_->create_plugin(
            factory_, &kHost, factory_->get_plugin_descriptor(factory_, 0)->id);
        EXPECT_NE(p, nullptr);
        if (!p) return nullptr;
        made_.push_back(p);
        EXPECT_TRUE(p->init(p));
        if (activate) {
            EXPECT_TRUE(p->activate(p, kRate, 1, 4096));
            EXPECT_TRUE(p->start_processing(p));
        }
        return p;
    }
    template <typename T>
    static const T* extension(const clap_plugin_t* p, const char* id) {
        return static_cast<const T*>(p->get_extension(p, id));
    }

    // One block of the test signal through `p` with `events`; the left and
    // right outputs one after the other.
    static std::vector<float> render(const clap_plugin_t* p, Events* events, uint32_t offset = 0) {
        std::vector<float> in(2 * kFrames), out(2 * kFrames);
        signal(in.data(), offset);
        float* inputs[2] = {in.data(), in.data() + kFrames};
        float* outputs[2] = {out.data(), out.data() + kFrames};
        clap_audio_buffer_t inBuffer{inputs, nullptr, 2, 0, 0};
        clap_audio_buffer_t outBuffer{outputs, nullptr, 2, 0, 0};
        Events none;
        clap_process_t process{};
        process.frames_count = kFrames;
        process.audio_inputs = &inBuffer;
        process.audio_outputs = &outBuffer;
        process.audio_inputs_count = process.audio_outputs_count = 1;
        process.in_events = &(events ? events : &none)->in;
        EXPECT_EQ(p->process(p, &process), CLAP_PROCESS_CONTINUE);
        return out;
    }
    static void signal(float* stereo, uint32_t offset) {
        for (uint32_t i = 0; i < kFrames; ++i) {
            const double t = (offset + i) / kRate;
            stereo[i] = static_cast<float>(0.7 * std::sin(2 * M_PI * 220 * t));
            stereo[kFrames + i] = static_cast<float>(0.4 * std::sin(2 * M_PI * 331 * t) + 0.2);
        }
    }

    void* library_ = nullptr;
    const clap_plugin_entry_t* entry_ = nullptr;
    const clap_plugin_factory_t* factory_ = nullptr;
    std::vector<const clap_plugin_t*> made_;
};

TEST_F(ClapPlugin, FactoryDescribesOneStereoDistortionEffect) {
    ASSERT_EQ(factory_->get_plugin_count(factory_), 1u);
    EXPECT_EQ(factory_->get_plugin_descriptor(factory_, 1), nullptr);
    const clap_plugin_descriptor_t* d = factory_->get_plugin_descriptor(factory_, 0);
    EXPECT_STREQ(d->id, "com.harrowquill.kv23-t-zudiz");
    EXPECT_STREQ(d->name, "KV23-T ZuDiz");
    EXPECT_STREQ(d->vendor, "Harrow Quill");
    EXPECT_STREQ(d->version, KV_PROJECT_VERSION);
    std::vector<std::string> features;
    for (const char* const* f = d->features; *f; ++f)
        features.emplace_back(*f);
    EXPECT_EQ(features, (std::vector<std::string>{"audio-effect", "distortion", "stereo"}));
    EXPECT_EQ(factory_->create_plugin(factory_, &kHost, "com.example.other"), nullptr);
    EXPECT_EQ(entry_->get_factory("clap.nothing"), nullptr);

    const clap_plugin_t* p = make(false);
    const auto* ports = extension<clap_plugin_audio_ports_t>(p, CLAP_EXT_AUDIO_PORTS);
    ASSERT_NE(ports, nullptr);
    for (bool input : {true, false}) {
        ASSERT_EQ(ports->count(p, input), 1u);
        clap_audio_port_info_t info{};
        ASSERT_TRUE(ports->get(p, 0, input, &info));
        EXPECT_EQ(info.channel_count, 2u);
        EXPECT_STREQ(info.port_type, CLAP_PORT_STEREO);
        EXPECT_TRUE(info.flags & CLAP_AUDIO_PORT_IS_MAIN);
        EXPECT_FALSE(ports->get(p, 1, input, &info));
    }
    for (double rate : {0.0, 30.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_FALSE(p->activate(p, rate, 1, 4096)) << rate;
    }
}

TEST_F(ClapPlugin, ParametersSpeakDecibelsAndThePanelsText) {
    const clap_plugin_t* p = make(false);
    const auto* params = extension<clap_plugin_params_t>(p, CLAP_EXT_PARAMS);
    ASSERT_NE(params, nullptr);
    ASSERT_EQ(params->count(p), 5u);
    const struct {
        const char* name;
        double min, max, def;
        bool stepped;
    } want[] = {{"Gain", -8, 24, 0, false},
                {"Pad 1", 0, 1, 0, true},
                {"Pad 2", 0, 1, 0, true},
                {"Volume", -32, 32, 0, false},
                {"Quality", 0, 1, 0, true}};
    for (uint32_t i = 0; i < 5; ++i) {
        clap_param_info_t info{};
        ASSERT_TRUE(params->get_info(p, i, &info));
        EXPECT_EQ(info.id, i);
        EXPECT_STREQ(info.name, want[i].name);
        EXPECT_EQ(info.min_value, want[i].min);
        EXPECT_EQ(info.max_value, want[i].max);
        EXPECT_EQ(info.default_value, want[i].def);
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_STEPPED) != 0, want[i].stepped);
        double value = -99;
        ASSERT_TRUE(params->get_value(p, i, &value));
        EXPECT_EQ(value, want[i].def);
    }
    clap_param_info_t info{};
    EXPECT_FALSE(params->get_info(p, 5, &info));

    char text[16];
    ASSERT_TRUE(params->value_to_text(p, 3, -3.5, text, sizeof text));
    EXPECT_STREQ(text, "-3.50");
    ASSERT_TRUE(params->value_to_text(p, 0, -0.001, text, sizeof text));
    EXPECT_STREQ(text, "0.00");
    ASSERT_TRUE(params->value_to_text(p, 1, 1.0, text, 3));
    EXPECT_STREQ(text, "on");
    ASSERT_TRUE(params->value_to_text(p, 4, 1.0, text, sizeof text));
    EXPECT_STREQ(text, "Clean");
    EXPECT_FALSE(params->value_to_text(p, 9, 1.0, text, sizeof text));

    double value = 0;
    const struct {
        clap_id id;
        const char* text;
        double value;
    } read[] = {{3, "-3,5", -3.5}, {3, " +6 dB", 6}, {0, "100", 24},  {0, "-1e999", -8},
                {2, "on", 1},      {2, "0.75", 1},   {4, "clean", 1}, {4, "Exact", 0}};
    for (const auto& r : read) {
        ASSERT_TRUE(params->text_to_value(p, r.id, r.text, &value)) << r.text;
        EXPECT_EQ(value, r.value) << r.text;
    }
    for (const char* none : {"", "dB", "-", ".", "nan"})
        EXPECT_FALSE(params->text_to_value(p, 0, none, &value)) << none;
}

TEST_F(ClapPlugin, ABlockWithoutEventsIsTheVst2BuildsBlock) {
    // The VST 2 build with the same settings as normalised values.
    void* vst = dlopen(KV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(vst, nullptr) << dlerror();
    auto main = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(dlsym(vst, "VSTPluginMain"));
    AEffect* e = main([](AEffect*, int32_t op, int32_t, intptr_t, void*, float) -> intptr_t {
        return op == audioMasterVersion ? 2400 : 0;
    });
    ASSERT_NE(e, nullptr);
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    const float settings[4] = {static_cast<float>((17.25 + 8) / 32), 1.0f, 0.0f,
                               static_cast<float>((-4.5 + 32) / 64)};
    for (int32_t i = 0; i < 4; ++i)
        e->setParameter(e, i, settings[i]);

    const clap_plugin_t* p = make();
    Events set;
    set.add(0, 0, 17.25);
    set.add(0, 1, 1.0);
    set.add(0, 3, -4.5);
    extension<clap_plugin_params_t>(p, CLAP_EXT_PARAMS)->flush(p, &set.in, nullptr);

    for (uint32_t block = 0; block < 4; ++block) {
        std::vector<float> in(2 * kFrames), out(2 * kFrames);
        signal(in.data(), block * kFrames);
        float* inputs[2] = {in.data(), in.data() + kFrames};
        float* outputs[2] = {out.data(), out.data() + kFrames};
        e->processReplacing(e, inputs, outputs, kFrames);
        EXPECT_EQ(render(p, nullptr, block * kFrames), out) << "block " << block;
    }
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    dlclose(vst);
}

TEST_F(ClapPlugin, AStepTakesEffectAtItsSample) {
    const clap_plugin_t* plain = make();
    const clap_plugin_t* stepped = make();
    Events step;
    step.add(100, 3, 12.0);  // volume up 12 dB from sample 100 on
    const std::vector<float> before = render(plain, nullptr);
    const std::vector<float> after = render(stepped, &step);
    for (uint32_t c = 0; c < 2; ++c) {
        for (uint32_t i = 0; i < kFrames; ++i) {
            const float a = before[c * kFrames + i], b = after[c * kFrames + i];
            if (i < 100) {
                ASSERT_EQ(a, b) << "channel " << c << " sample " << i;
            } else if (std::fabs(a) > 1e-3f) {
                ASSERT_NEAR(b / a, std::pow(10.0, 12.0 / 20), 1e-3)
                    << "channel " << c << " sample " << i;
            }
        }
    }
    // An event out of order, or past the end, takes effect where the block
    // has got to; an unknown id or a NaN changes nothing.
    Events odd;
    odd.add(300, 0, 10.0);
    odd.add(200, 0, 20.0);
    odd.add(5000, 3, -10.0);
    odd.add(0, 77, 1.0);
    odd.add(0, 0, std::numeric_limits<double>::quiet_NaN());
    render(stepped, &odd);
    double value = 0;
    const auto* params = extension<clap_plugin_params_t>(stepped, CLAP_EXT_PARAMS);
    ASSERT_TRUE(params->get_value(stepped, 0, &value));
    EXPECT_EQ(value, 20.0);
    ASSERT_TRUE(params->get_value(stepped, 3, &value));
    EXPECT_EQ(value, -10.0);
}

// Clean is Exact late by exactly what the latency extension reports (a null
// test: one sample either way does not cancel), and asking for Clean while
// active asks the host for the restart at which it hears the new latency.
TEST_F(ClapPlugin, CleanIsLateByExactlyTheLatencyItReports) {
    static int restarts = 0;
    static clap_host_t host = kHost;
    host.request_restart = [](const clap_host_t*) { ++restarts; };
    auto make = [&](bool clean) {
        const clap_plugin_t* p = factory_->create_plugin(
            factory_, &host, factory_->get_plugin_descriptor(factory_, 0)->id);
        made_.push_back(p);
        EXPECT_TRUE(p->init(p));
        Events set;  // full drive, Pad 1
        set.add(0, 0, 24.0);
        set.add(0, 1, 1.0);
        if (clean) set.add(0, 4, 1.0);
        extension<clap_plugin_params_t>(p, CLAP_EXT_PARAMS)->flush(p, &set.in, nullptr);
        EXPECT_TRUE(p->activate(p, kRate, 1, 4096));
        EXPECT_TRUE(p->start_processing(p));
        return p;
    };
    auto left = [&](const clap_plugin_t* p) {
        std::vector<double> out;
        for (uint32_t block = 0; block < 40; ++block) {
            const std::vector<float> both = render(p, nullptr, block * kFrames);
            out.insert(out.end(), both.begin(), both.begin() + kFrames);
        }
        return out;
    };
    const clap_plugin_t* exact = make(false);
    const clap_plugin_t* clean = make(true);
    const auto* latency = extension<clap_plugin_latency_t>(clean, CLAP_EXT_LATENCY);
    ASSERT_NE(latency, nullptr);
    EXPECT_EQ(latency->get(exact), 0u);
    const uint32_t lag = latency->get(clean);
    ASSERT_GT(lag, 0u);
    const std::vector<double> e = left(exact), c = left(clean);
    auto errorDb = [&](size_t shift) {
        double error = 0, signal = 0;
        for (size_t i = e.size() / 2; i + shift < c.size(); ++i) {
            error += (c[i + shift] - e[i]) * (c[i + shift] - e[i]);
            signal += e[i] * e[i];
        }
        return 10 * std::log10(error / signal);
    };
    EXPECT_LT(errorDb(lag), -100.0);
    EXPECT_GT(errorDb(lag - 1), -50.0);
    EXPECT_GT(errorDb(lag + 1), -50.0);

    // Clean asked for while active: a restart, then the new latency.
    Events toClean;
    toClean.add(100, 4, 1.0);
    restarts = 0;
    render(exact, &toClean);
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(latency->get(exact), 0u) << "the latency changes only at an activation";
    exact->stop_processing(exact);
    exact->deactivate(exact);
    ASSERT_TRUE(exact->activate(exact, kRate, 1, 4096));
    EXPECT_EQ(latency->get(exact), lag);
}

// Processing allocates nothing, in either quality, through a switch each
// way and parameter points (the allocator counts this thread's calls).
TEST_F(ClapPlugin, ProcessingAllocatesNothingInEitherQuality) {
    const clap_plugin_t* p = make();
    std::vector<float> in(2 * kFrames), out(2 * kFrames);
    float* inputs[2] = {in.data(), in.data() + kFrames};
    float* outputs[2] = {out.data(), out.data() + kFrames};
    clap_audio_buffer_t inBuffer{inputs, nullptr, 2, 0, 0};
    clap_audio_buffer_t outBuffer{outputs, nullptr, 2, 0, 0};
    std::vector<Events> events(60);
    for (uint32_t block = 0; block < events.size(); ++block) {
        events[block].add(block % kFrames, 0, -8.0 + block % 32);
        events[block].add((block * 7) % kFrames, 4, (block / 7) % 2);
        events[block].in.ctx = &events[block];
    }
    namespace fn = kv::validate::failing_new;
    long allocations = 0;
    for (uint32_t block = 0; block < events.size(); ++block) {
        signal(in.data(), block * kFrames);
        clap_process_t process{};
        process.frames_count = block % 5 == 4 ? 1 : kFrames;
        process.audio_inputs = &inBuffer;
        process.audio_outputs = &outBuffer;
        process.audio_inputs_count = process.audio_outputs_count = 1;
        process.in_events = &events[block].in;
        fn::arm(0);
        EXPECT_EQ(p->process(p, &process), CLAP_PROCESS_CONTINUE);
        allocations += fn::disarm();
    }
    EXPECT_EQ(allocations, 0);
    // The count sees the plug-in's own allocations: a first activation
    // makes Clean's buffers.
    const clap_plugin_t* fresh = make(false);
    fn::arm(0);
    EXPECT_TRUE(fresh->activate(fresh, kRate, 1, 4096));
    EXPECT_GT(fn::disarm(), 0);
}

TEST_F(ClapPlugin, StateRoundTripsAndRefusesWhatIsNotOurs) {
    const clap_plugin_t* a = make();
    Events set;
    set.add(0, 0, 14.5);
    set.add(0, 2, 1.0);
    set.add(0, 3, -7.25);
    render(a, &set);
    const auto* state = extension<clap_plugin_state_t>(a, CLAP_EXT_STATE);
    ASSERT_NE(state, nullptr);
    Stream saved;
    ASSERT_TRUE(state->save(a, &saved.out));
    ASSERT_EQ(saved.bytes.size(), 28u);
    EXPECT_EQ(saved.bytes[4], 2) << "the record's version";

    // A record of the first release (version 1: the four values) loads,
    // as Exact.
    {
        const clap_plugin_t* old = make();
        Events clean;
        clean.add(0, 4, 1.0);
        extension<clap_plugin_params_t>(old, CLAP_EXT_PARAMS)->flush(old, &clean.in, nullptr);
        Stream v1;
        v1.bytes.assign(saved.bytes.begin(), saved.bytes.begin() + 24);
        v1.bytes[4] = 1;
        ASSERT_TRUE(state->load(old, &v1.in));
        double quality = -1;
        ASSERT_TRUE(
            extension<clap_plugin_params_t>(old, CLAP_EXT_PARAMS)->get_value(old, 4, &quality));
        EXPECT_EQ(quality, 0.0);
    }

    // Loaded into another instance, the state sounds as the settings do.
    const clap_plugin_t* b = make();
    ASSERT_TRUE(state->load(b, &saved.in));
    const clap_plugin_t* c = make();
    extension<clap_plugin_params_t>(c, CLAP_EXT_PARAMS)->flush(c, &set.in, nullptr);
    EXPECT_EQ(render(b, nullptr), render(c, nullptr));

    // Short, long, another version, a value out of range, garbage: refused,
    // and the values stay.
    const auto bad = kv::test::badStates(saved.bytes, 1000);
    const auto* params = extension<clap_plugin_params_t>(b, CLAP_EXT_PARAMS);
    for (const auto& bytes : bad) {
        Stream s;
        s.bytes = bytes;
        ASSERT_FALSE(state->load(b, &s.in));
        double value = 0;
        ASSERT_TRUE(params->get_value(b, 0, &value));
        ASSERT_EQ(value, 14.5);
        ASSERT_TRUE(params->get_value(b, 3, &value));
        ASSERT_EQ(value, -7.25);
    }
}

}  // namespace
