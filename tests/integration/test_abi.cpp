// The plug-in file as a host meets it: loaded with dlopen, created through
// VSTPluginMain with our own host callback, and driven only through the
// AEffect record. Nothing of the plug-in's code is linked into this test.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/integration/reference_model.h"
#include "vst2/base/aeffect.h"

namespace {

using EntryPoint = AEffect* (*)(audioMasterCallback);

intptr_t gVersionAnswer = 2400;
std::vector<int32_t> gHostCalls;

intptr_t recordingHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    gHostCalls.push_back(opcode);
    return opcode == audioMasterVersion ? gVersionAnswer : 0;
}

class PluginFile : public ::testing::Test {
  protected:
    void SetUp() override {
        // NODELETE: the libraries under the plug-in (pixman through cairo)
        // keep tables from their load for the life of the process; unloading
        // them would show those as leaks under the leak checker.
        library_ = dlopen(KV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        ASSERT_NE(library_, nullptr) << dlerror();
        entry_ = reinterpret_cast<EntryPoint>(dlsym(library_, "VSTPluginMain"));
        ASSERT_NE(entry_, nullptr);
        gVersionAnswer = 2400;
        gHostCalls.clear();
    }
    void TearDown() override {
        for (AEffect* e : open_)
            e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
        if (library_ != nullptr) dlclose(library_);
    }
    AEffect* create() {
        AEffect* e = entry_(recordingHost);
        if (e != nullptr) open_.push_back(e);
        return e;
    }
    // effClose deletes the instance; we must not close it a second time.
    intptr_t closeInstance(AEffect* e) {
        std::erase(open_, e);
        return e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    }
    static intptr_t call(AEffect* e, int32_t op, int32_t index = 0, intptr_t value = 0,
                         void* ptr = nullptr, float opt = 0.0f) {
        return e->dispatcher(e, op, index, value, ptr, opt);
    }

    void* library_ = nullptr;
    EntryPoint entry_ = nullptr;
    std::vector<AEffect*> open_;
};

std::set<std::string> definedDynamicSymbols(const std::string& path) {
    std::set<std::string> names;
    FILE* pipe = popen(("nm -D --defined-only '" + path + "'").c_str(), "r");
    if (pipe == nullptr) return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) names.insert(name);
    }
    pclose(pipe);
    return names;
}

TEST_F(PluginFile, ExportsOnlyItsEntryPointAndAnswersTheVersionQuestion) {
    EXPECT_EQ(definedDynamicSymbols(KV_PLUGIN_PATH),
              (std::set<std::string>{"VSTPluginMain", "main"}));
    // `main` is the same entry under its old name.
    EXPECT_EQ(dlsym(library_, "main"), reinterpret_cast<void*>(entry_));

    gVersionAnswer = 0;
    EXPECT_EQ(create(), nullptr) << "a host that answers version 0 gets no instance";
    EXPECT_EQ(gHostCalls, std::vector<int32_t>{audioMasterVersion});

    gVersionAnswer = 2400;
    AEffect* e = create();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->magic, kEffectMagic);
    EXPECT_EQ(e->numPrograms, 0);
    EXPECT_EQ(e->numParams, 4);
    EXPECT_EQ(e->numInputs, 2);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->uniqueID, kvFourCC('K', 'V', '2', '3'));
    EXPECT_EQ(e->version, 1);
    EXPECT_EQ(e->initialDelay, 0);
    EXPECT_EQ(e->ioRatio, 1.0f);
    // Replacing, program chunks and double replacing; the editor bit is the
    // only other one allowed.
    EXPECT_EQ(e->flags & 0x1030, 0x1030);
    EXPECT_EQ(e->flags & ~0x1031, 0);
    EXPECT_NE(e->object, nullptr);
    EXPECT_NE(e->processReplacing, nullptr);
    EXPECT_NE(e->processDoubleReplacing, nullptr);
    EXPECT_NE(e->setParameter, nullptr);
    EXPECT_NE(e->getParameter, nullptr);
    for (char b : e->future)
        EXPECT_EQ(b, 0);

    // The old accumulating entry exists but adds nothing to the output.
    ASSERT_NE(e->process, nullptr);
    float inL[4] = {0.5f, 0.5f, 0.5f, 0.5f}, inR[4] = {0.5f, 0.5f, 0.5f, 0.5f};
    float outL[4] = {1, 2, 3, 4}, outR[4] = {5, 6, 7, 8};
    float* in[2] = {inL, inR};
    float* out[2] = {outL, outR};
    e->process(e, in, out, 4);
    EXPECT_EQ(outL[3], 4.0f);
    EXPECT_EQ(outR[0], 5.0f);

    // A second instance is a separate object with its own record.
    AEffect* other = create();
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, e);
    EXPECT_NE(other->object, e->object);
    EXPECT_EQ(closeInstance(other), 1);
    EXPECT_EQ(closeInstance(e), 1);
}

// A buffer for the opcodes that write through `ptr`: zeroed, with guard
// bytes behind the part a plug-in may use.
struct GuardedBuffer {
    static constexpr size_t kUsable = 1024;
    static constexpr size_t kGuard = 256;
    alignas(16) unsigned char bytes[kUsable + kGuard];
    GuardedBuffer() { reset(); }
    void reset() {
        std::memset(bytes, 0, kUsable);
        std::memset(bytes + kUsable, 0xA5, kGuard);
    }
    bool guardIntact() const {
        for (size_t i = kUsable; i < kUsable + kGuard; ++i) {
            if (bytes[i] != 0xA5) return false;
        }
        return true;
    }
    std::string text() const { return reinterpret_cast<const char*>(bytes); }
};

VstSpeakerArrangement stereoArrangement() {
    VstSpeakerArrangement a{};
    a.numChannels = 2;
    return a;
}

TEST_F(PluginFile, EveryOpcodeFromZeroToEightyAnswersSanely) {
    AEffect* e = create();
    ASSERT_NE(e, nullptr);
    const bool hasEditor = (e->flags & effFlagsHasEditor) != 0;
    GuardedBuffer buf;
    VstSpeakerArrangement in = stereoArrangement(), out = stereoArrangement();

    for (int32_t op = 0; op <= 80; ++op) {
        // Closing ends the instance and opening the editor needs a real
        // window; both have tests of their own.
        if (op == effClose || op == effEditOpen || op == effEditClose) continue;
        SCOPED_TRACE("opcode " + std::to_string(op));
        buf.reset();
        intptr_t value = 0;
        float opt = 0.0f;
        void* ptr = buf.bytes;
        intptr_t expected = 0;
        switch (op) {
            case effSetSampleRate:
                opt = 48000.0f;
                break;
            case effSetBlockSize:
                value = 512;
                break;
            case effMainsChanged:
                value = 1;
                break;
            case effEditGetRect:
                expected = hasEditor ? 1 : 0;
                break;
            case effIdentify:
                expected = kvFourCC('N', 'v', 'E', 'f');
                break;
            case effGetChunk:
                expected = 16;
                break;
            case effSetChunk: {
                const float values[4] = {0.25f, 0.0f, 0.0f, 0.5f};
                std::memcpy(buf.bytes, values, sizeof values);
                value = sizeof values;
                break;
            }
            case effCanBeAutomated:
                expected = 1;
                break;
            case effGetPlugCategory:
                expected = kPlugCategEffect;
                break;
            case effSetSpeakerArrangement:
                value = reinterpret_cast<intptr_t>(&in);
                ptr = &out;
                expected = 1;
                break;
            case effGetEffectName:
            case effGetVendorString:
            case effGetProductString:
                expected = 1;
                break;
            case effGetVendorVersion:
                expected = 1110;
                break;
            case effCanDo:
                std::strcpy(reinterpret_cast<char*>(buf.bytes), "receiveVstMidiEvent");
                expected = -1;
                break;
            case effGetVstVersion:
                expected = 2400;
                break;
            case effGetCurrentMidiProgram:
                expected = -1;
                break;
            case effSetEditKnobMode:
                expected = hasEditor ? 1 : 0;
                break;
            case effSetTotalSampleToProcess:
                value = 123456;
                expected = 123456;
                break;
            case effGetSpeakerArrangement: {
                // Both arguments point to arrangement pointers, which the
                // plug-in sets to null.
                auto** slots = reinterpret_cast<void**>(buf.bytes);
                slots[0] = &in;
                slots[1] = &out;
                value = reinterpret_cast<intptr_t>(&slots[0]);
                ptr = &slots[1];
                break;
            }
            default:
                break;
        }
        const intptr_t result = e->dispatcher(e, op, 0, value, ptr, opt);
        EXPECT_EQ(result, expected);
        EXPECT_TRUE(buf.guardIntact()) << "the plug-in wrote past what it may use";

        switch (op) {
            case effGetProgramName:
                EXPECT_EQ(buf.text(), "Default");
                break;
            case effGetParamLabel:
                EXPECT_EQ(buf.text(), "dB");
                break;
            case effGetParamDisplay:
                EXPECT_EQ(buf.text(), "0.250000");
                break;
            case effGetParamName:
                EXPECT_EQ(buf.text(), "Gain");
                break;
            case effGetEffectName:
            case effGetProductString:
                EXPECT_EQ(buf.text(), "KV23-T ZuDiz");
                break;
            case effGetVendorString:
                EXPECT_EQ(buf.text(), "Harrow Quill");
                break;
            case effEditGetRect:
                if (hasEditor) {
                    ERect* rect = nullptr;
                    // The answer is a pointer to the record: sizeof a pointer is meant.
                    // NOLINTNEXTLINE(bugprone-sizeof-expression)
                    std::memcpy(&rect, buf.bytes, sizeof rect);
                    ASSERT_NE(rect, nullptr);
                    EXPECT_EQ(rect->right - rect->left, 240);
                    EXPECT_EQ(rect->bottom - rect->top, 400);
                }
                break;
            case effGetChunk: {
                void* data = nullptr;
                std::memcpy(&data, buf.bytes, sizeof data);
                ASSERT_NE(data, nullptr);
                float values[4];
                std::memcpy(values, data, sizeof values);
                EXPECT_EQ(values[0], 0.25f);
                EXPECT_EQ(values[3], 0.5f);
                break;
            }
            case effGetSpeakerArrangement: {
                auto** slots = reinterpret_cast<void**>(buf.bytes);
                EXPECT_EQ(slots[0], nullptr);
                EXPECT_EQ(slots[1], nullptr);
                break;
            }
            default:
                break;
        }
    }
    // The program index: no programs, so 0 stays 0 and only a negative
    // value gets through.
    call(e, effSetProgram, 0, 3);
    EXPECT_EQ(call(e, effGetProgram), 0);
    EXPECT_EQ(closeInstance(e), 1);
}

TEST_F(PluginFile, ParametersAndTheStateChunkRoundTrip) {
    AEffect* e = create();
    ASSERT_NE(e, nullptr);
    void* data = nullptr;
    ASSERT_EQ(call(e, effGetChunk, 0, 0, &data), 16);
    const unsigned char fresh[16] = {0x00, 0x00, 0x80, 0x3E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x3F};
    EXPECT_EQ(std::memcmp(data, fresh, 16), 0);

    // Values are clamped, invalid indices ignored.
    e->setParameter(e, 0, 0.8125f);
    e->setParameter(e, 1, 1.5f);
    e->setParameter(e, 2, -0.5f);
    e->setParameter(e, 3, 0.3f);
    e->setParameter(e, 4, 0.9f);
    e->setParameter(e, -1, 0.9f);
    EXPECT_EQ(e->getParameter(e, 0), 0.8125f);
    EXPECT_EQ(e->getParameter(e, 1), 1.0f);
    EXPECT_EQ(e->getParameter(e, 2), 0.0f);
    EXPECT_EQ(e->getParameter(e, 3), 0.3f);
    EXPECT_EQ(e->getParameter(e, 4), 0.0f);

    ASSERT_EQ(call(e, effGetChunk, 0, 0, &data), 16);
    std::array<float, 4> saved;
    std::memcpy(saved.data(), data, 16);
    EXPECT_EQ(saved, (std::array<float, 4>{0.8125f, 1.0f, 0.0f, 0.3f}));

    // A second instance restored from those bytes has the same settings; a
    // chunk with values out of range is clamped on the way in.
    AEffect* copy = create();
    ASSERT_NE(copy, nullptr);
    std::array<float, 4> bytes = saved;
    EXPECT_EQ(call(copy, effSetChunk, 0, 16, bytes.data()), 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(copy->getParameter(copy, i), saved[i]) << i;
    bytes = {2.0f, -1.0f, 0.75f, 0.5f};
    call(copy, effSetChunk, 1, 16, bytes.data());
    EXPECT_EQ(copy->getParameter(copy, 0), 1.0f);
    EXPECT_EQ(copy->getParameter(copy, 1), 0.0f);
    EXPECT_EQ(copy->getParameter(copy, 2), 0.75f);

    char text[64] = {};
    call(copy, effGetParamDisplay, 2, 0, text);
    EXPECT_STREQ(text, "0.750000");
    call(copy, effGetParamName, 3, 0, text);
    EXPECT_STREQ(text, "Volume");
    call(copy, effGetParamLabel, 1, 0, text);
    EXPECT_STREQ(text, "n/y");
    EXPECT_EQ(closeInstance(copy), 1);
}

// A test signal with content at several frequencies and levels.
std::vector<float> testSignal(size_t n, double phase) {
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i);
        x[i] = static_cast<float>(0.6 * std::sin(0.013 * t + phase) +
                                  0.3 * std::sin(0.31 * t + 2 * phase) + 0.05 * std::cos(2.9 * t));
    }
    return x;
}

TEST_F(PluginFile, ProcessingMatchesAnIndependentModelInFloatAndDouble) {
    constexpr int kBlocks = 6, kBlock = 300;
    const std::vector<float> left = testSignal(kBlocks * kBlock, 0.0);
    const std::vector<float> right = testSignal(kBlocks * kBlock, 1.0);

    // Defaults and no sample rate: the first output is the clean part of
    // the input alone, 0.8625 x[0], because the saturated part lags.
    AEffect* first = create();
    ASSERT_NE(first, nullptr);
    {
        float inL[2] = {0.5f, -0.25f}, inR[2] = {0.1f, 0.2f}, outL[2], outR[2];
        float* in[2] = {inL, inR};
        float* out[2] = {outL, outR};
        first->processReplacing(first, in, out, 2);
        EXPECT_FLOAT_EQ(outL[0], 0.8625f * 0.5f);
        EXPECT_FLOAT_EQ(outR[0], 0.8625f * 0.1f);
        EXPECT_NEAR(outL[1], 0.1375 * std::erf(0.5) + 0.8625 * -0.25, 1e-7);
        EXPECT_NEAR(outR[1], 0.1375 * std::erf(0.1) + 0.8625 * 0.2, 1e-7);
    }

    // Two instances with different settings, one processing in float and one
    // in double, each against its own model: the instances share nothing.
    AEffect* f = create();
    AEffect* d = create();
    ASSERT_TRUE(f != nullptr && d != nullptr);
    kvtest::ReferenceOpamp modelF, modelD;
    call(f, effSetSampleRate, 0, 0, nullptr, 44100.0f);
    modelF.setSampleRate(44100.0);
    call(d, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    modelD.setSampleRate(48000.0);
    const float settingsF[4] = {0.7f, 1.0f, 0.0f, 0.35f};
    const float settingsD[4] = {0.15f, 0.0f, 0.9f, 0.8f};
    for (int i = 0; i < 4; ++i) {
        f->setParameter(f, i, settingsF[i]);
        d->setParameter(d, i, settingsD[i]);
    }
    modelF.gain = settingsF[0], modelF.pad1 = settingsF[1], modelF.pad2 = settingsF[2];
    modelF.volume = settingsF[3];
    modelD.gain = settingsD[0], modelD.pad1 = settingsD[1], modelD.pad2 = settingsD[2];
    modelD.volume = settingsD[3];

    double worstF = 0.0, worstD = 0.0;
    for (int b = 0; b < kBlocks; ++b) {
        const size_t at = static_cast<size_t>(b) * kBlock;
        std::vector<float> fl(left.begin() + at, left.begin() + at + kBlock);
        std::vector<float> fr(right.begin() + at, right.begin() + at + kBlock);
        std::vector<float> outL(kBlock), outR(kBlock);
        float* fin[2] = {fl.data(), fr.data()};
        float* fout[2] = {outL.data(), outR.data()};
        f->processReplacing(f, fin, fout, kBlock);

        std::vector<double> dl(fl.begin(), fl.end()), dr(fr.begin(), fr.end());
        std::vector<double> doutL(kBlock), doutR(kBlock);
        double* din[2] = {dl.data(), dr.data()};
        double* dout[2] = {doutL.data(), doutR.data()};
        d->processDoubleReplacing(d, din, dout, kBlock);

        std::vector<double> eL(kBlock), eR(kBlock), gL(kBlock), gR(kBlock);
        modelF.process(dl.data(), dr.data(), eL.data(), eR.data(), kBlock);
        modelD.process(dl.data(), dr.data(), gL.data(), gR.data(), kBlock);
        for (int i = 0; i < kBlock; ++i) {
            ASSERT_TRUE(kvtest::closeAsFloat(outL[i], eL[i]))
                << "block " << b << " frame " << i << ": " << outL[i] << " vs " << eL[i];
            ASSERT_TRUE(kvtest::closeAsFloat(outR[i], eR[i])) << b << "/" << i;
            worstF = std::max(worstF, std::fabs(outL[i] - eL[i]));
            worstD = std::max({worstD, std::fabs(doutL[i] - gL[i]), std::fabs(doutR[i] - gR[i])});
        }
    }
    // The double path is not rounded to float on the way out.
    EXPECT_LT(worstD, 1e-12);
    EXPECT_GT(worstF, 0.0) << "float output should show float rounding";
}

TEST_F(PluginFile, InPlaceBuffersAndAlternatingPrecisionsShareOneState) {
    AEffect* a = create();
    AEffect* b = create();
    ASSERT_TRUE(a != nullptr && b != nullptr);
    for (AEffect* e : {a, b}) {
        call(e, effSetSampleRate, 0, 0, nullptr, 44100.0f);
        e->setParameter(e, 0, 0.9f);
    }
    const std::vector<float> src = testSignal(256, 0.5);
    // a: separate buffers, all float. b: the same buffers for input and
    // output, float and double calls taking turns.
    std::vector<float> aL = src, aR = src, oL(256), oR(256);
    for (int block = 0; block < 4; ++block) {
        float* in[2] = {aL.data() + block * 64, aR.data() + block * 64};
        float* out[2] = {oL.data() + block * 64, oR.data() + block * 64};
        a->processReplacing(a, in, out, 64);
    }
    std::vector<float> bL = src, bR = src;
    for (int block = 0; block < 4; ++block) {
        if (block % 2 == 0) {
            float* io[2] = {bL.data() + block * 64, bR.data() + block * 64};
            b->processReplacing(b, io, io, 64);
        } else {
            std::vector<double> l(bL.begin() + block * 64, bL.begin() + block * 64 + 64);
            std::vector<double> r(bR.begin() + block * 64, bR.begin() + block * 64 + 64);
            double* io[2] = {l.data(), r.data()};
            b->processDoubleReplacing(b, io, io, 64);
            for (int i = 0; i < 64; ++i) {
                bL[block * 64 + i] = static_cast<float>(l[i]);
                bR[block * 64 + i] = static_cast<float>(r[i]);
            }
        }
    }
    for (int i = 0; i < 256; ++i) {
        ASSERT_FLOAT_EQ(bL[i], oL[i]) << i;
        ASSERT_FLOAT_EQ(bR[i], oR[i]) << i;
    }
}

// What this plug-in promises beyond what a host may expect of any plug-in:
// a NaN, in any bit pattern and by either route, leaves the stored value as
// it was; and a sample rate of 30 Hz or less (where the high-pass would be
// unstable) keeps the filter of the last good rate, so the sound stays
// bounded.
TEST_F(PluginFile, NaNParametersAndRatesOfThirtyHertzOrLessChangeNothing) {
    AEffect* e = create();
    ASSERT_NE(e, nullptr);
    uint32_t patterns[] = {0x7FC00000u, 0xFFC00000u, 0x7F800001u, 0xFFFFFFFFu};
    for (int32_t i = 0; i < 4; ++i) {
        const float before = 0.125f + 0.0625f * static_cast<float>(i);
        e->setParameter(e, i, before);
        for (uint32_t bits : patterns) {
            float nan;
            std::memcpy(&nan, &bits, 4);
            e->setParameter(e, i, nan);
            EXPECT_EQ(e->getParameter(e, i), before) << i << " 0x" << std::hex << bits;
        }
    }
    std::array<uint32_t, 4> nanChunk;
    nanChunk.fill(0x7FC00000u);
    call(e, effSetChunk, 0, 16, nanChunk.data());
    for (int32_t i = 0; i < 4; ++i)
        EXPECT_EQ(e->getParameter(e, i), 0.125f + 0.0625f * static_cast<float>(i)) << i;

    // Full drive, no pads, full volume: the loudest the controls allow is
    // about +66 dB, some 2000 times the input.
    const float loudest[4] = {1.0f, 0.0f, 0.0f, 1.0f};
    const std::vector<float> noiseIn = testSignal(8192, 0.3);
    for (float rate : {1.0f, 8.0f, 20.0f, 25.0f, 29.0f, 30.0f}) {
        AEffect* x = create();
        ASSERT_NE(x, nullptr);
        call(x, effSetSampleRate, 0, 0, nullptr, rate);
        for (int32_t i = 0; i < 4; ++i)
            x->setParameter(x, i, loudest[i]);
        std::vector<float> l = noiseIn, r = noiseIn, oL(8192), oR(8192);
        float* in[2] = {l.data(), r.data()};
        float* out[2] = {oL.data(), oR.data()};
        x->processReplacing(x, in, out, 8192);
        for (size_t n = 0; n < oL.size(); ++n) {
            ASSERT_TRUE(std::isfinite(oL[n]) && std::fabs(oL[n]) < 1e5f) << rate << " Hz at " << n;
            ASSERT_TRUE(std::isfinite(oR[n]) && std::fabs(oR[n]) < 1e5f) << rate << " Hz at " << n;
        }
        EXPECT_EQ(closeInstance(x), 1);
    }
}

// A scanner, a render farm or a session that loads the plug-in file again
// and again, in a host that does not use cairo itself: the libraries under
// the plug-in are unloaded with it every time, and whatever they set up
// goes with them. An instance that never shows its panel must not set up
// fontconfig (a megabyte of its state lost a time). Each cycle still loses
// what pixman allocates when it is loaded (about 12 kB), which is not ours.
TEST(PluginReload, LoadingAndUnloadingWithoutAnEditorKeepsNoMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' allocators do not count the heap as glibc does";
#endif
    auto cycle = [] {
        void* library = dlopen(KV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto entry = reinterpret_cast<EntryPoint>(dlsym(library, "VSTPluginMain"));
        AEffect* e = entry(recordingHost);
        ASSERT_NE(e, nullptr);
        e->dispatcher(e, effOpen, 0, 0, nullptr, 0.0f);
        e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
        dlclose(library);
    };
    const auto heap = [] {
        const struct mallinfo2 info = mallinfo2();
        return static_cast<long>(info.uordblks + info.hblkhd);
    };
    for (int i = 0; i < 3; ++i)
        cycle();
    constexpr long kCycles = 200;
    const long before = heap();
    for (long i = 0; i < kCycles; ++i)
        cycle();
    const long perCycle = (heap() - before) / kCycles;
    std::printf("%ld load/unload cycles without an editor: %+ld bytes a cycle\n", kCycles,
                perCycle);
    EXPECT_LT(perCycle, 16 * 1024);
}

}  // namespace
