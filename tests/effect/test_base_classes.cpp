// Defaults of the effect base classes, seen through an effect that
// overrides nothing but the required processing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/support/host_recorder.h"
#include "vst2/base/audioeffectx.h"

namespace {

class BareEffect : public AudioEffectX {
  public:
    explicit BareEffect(audioMasterCallback host) : AudioEffectX(host, 3, 2) {}
    void processReplacing(float**, float**, int32_t) override {}
};

intptr_t dispatch(AudioEffect& fx, int32_t opcode, int32_t index = 0, intptr_t value = 0,
                  void* ptr = nullptr, float opt = 0.0f) {
    AEffect* e = fx.getAeffect();
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

TEST(BaseClasses, RecordDefaults) {
    BareEffect fx(nullptr);
    const AEffect& e = *fx.getAeffect();
    EXPECT_EQ(e.uniqueID, 0x4E6F4566);  // 'NoEf'
    EXPECT_EQ(e.numInputs, 1);
    EXPECT_EQ(e.numOutputs, 2);
    EXPECT_EQ(e.numPrograms, 3);
    EXPECT_EQ(e.numParams, 2);
    EXPECT_EQ(e.flags, effFlagsCanReplacing);
    EXPECT_EQ(e.ioRatio, 1.0f);
    EXPECT_EQ(fx.getEditor(), nullptr);
    EXPECT_EQ(fx.getSampleRate(), 44100.0f);
    EXPECT_EQ(fx.getBlockSize(), 1024);
}

TEST(BaseClasses, FlagSettersSetAndClearTheirBit) {
    BareEffect fx(nullptr);
    const int32_t& flags = fx.getAeffect()->flags;
    struct Setter {
        void (AudioEffect::*set)(bool);
        int32_t bit;
    };
    const Setter setters[] = {
        {&AudioEffect::hasVu, 0x2},
        {&AudioEffect::hasClip, 0x4},
        {&AudioEffect::canMono, 0x8},
        {&AudioEffect::canProcessReplacing, 0x10},
        {&AudioEffect::programsAreChunks, 0x20},
        {&AudioEffect::canDoubleReplacing, 0x1000},
    };
    for (const Setter& s : setters) {
        const int32_t before = flags;
        (fx.*s.set)(true);
        EXPECT_EQ(flags, before | s.bit);
        (fx.*s.set)(false);
        EXPECT_EQ(flags, before & ~s.bit);
    }
    fx.isSynth(true);
    EXPECT_EQ(flags & 0x100, 0x100);
    EXPECT_EQ(dispatch(fx, effGetPlugCategory), kPlugCategSynth);
    fx.isSynth(false);
    EXPECT_EQ(dispatch(fx, effGetPlugCategory), kPlugCategUnknown);
    fx.noTail(true);
    fx.wantAsyncOperation(true);
    fx.hasExternalBuffer(true);
    EXPECT_EQ(flags & 0xE00, 0xE00);
    fx.noTail(false);
    EXPECT_EQ(flags & 0x200, 0);
}

TEST(BaseClasses, ProgramsPassBelowTheCount) {
    BareEffect fx(nullptr);
    dispatch(fx, effSetProgram, 0, 2);
    EXPECT_EQ(dispatch(fx, effGetProgram), 2);
    dispatch(fx, effSetProgram, 0, 3);
    EXPECT_EQ(dispatch(fx, effGetProgram), 2);
    char name[32];
    std::memset(name, '#', sizeof(name));
    dispatch(fx, effGetProgramName, 0, 0, name);
    EXPECT_EQ(name[0], 0);
    EXPECT_EQ(name[1], '#');
}

TEST(BaseClasses, DefaultAnswersOfTheExtendedDispatcher) {
    BareEffect fx(nullptr);
    char text[80] = "x";
    EXPECT_EQ(dispatch(fx, effGetEffectName, 0, 0, text), 0);
    EXPECT_EQ(dispatch(fx, effGetVendorVersion), 0);
    EXPECT_EQ(dispatch(fx, effCanDo, 0, 0, text), -1);
    EXPECT_EQ(dispatch(fx, effGetVstVersion), 2400);
    EXPECT_EQ(dispatch(fx, effCanBeAutomated, 99), 1);
    EXPECT_EQ(dispatch(fx, effGetChunk, 0, 0, text), 0);
}

TEST(BaseClasses, SynthResumeAsksForMidi) {
    kvtest::HostRecorder host;
    BareEffect fx(kvtest::HostRecorder::callback);
    fx.resume();
    EXPECT_TRUE(host.calls.empty());
    fx.isSynth();
    dispatch(fx, effMainsChanged, 0, 1);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].opcode, audioMasterWantMidi);
    EXPECT_EQ(host.calls[0].value, 1);
}

TEST(SpeakerArrangements, AllocateCopyMatchAndRelease) {
    BareEffect fx(nullptr);
    VstSpeakerArrangement* a = nullptr;
    ASSERT_TRUE(fx.allocateArrangement(&a, 12));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->numChannels, 12);
    EXPECT_EQ(a->type, 0);
    // Room for all twelve speakers, zero-filled.
    for (int i = 0; i < 12; ++i) {
        a->speakers[i].azimuth = static_cast<float>(i);
        std::memset(a->speakers[i].name, 'n', sizeof(a->speakers[i].name));  // no terminator
        a->speakers[i].type = i + 100;
    }
    a->type = 7;
    VstSpeakerArrangement* b = nullptr;
    ASSERT_TRUE(fx.allocateArrangement(&b, 1));
    ASSERT_TRUE(fx.matchArrangement(&b, a));
    EXPECT_EQ(b->numChannels, 12);
    EXPECT_EQ(b->type, 7);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(b->speakers[i].azimuth, static_cast<float>(i));
        EXPECT_EQ(b->speakers[i].type, i + 100);
        EXPECT_EQ(std::strlen(b->speakers[i].name), 63u);
    }
    EXPECT_FALSE(fx.matchArrangement(&b, nullptr));
    EXPECT_FALSE(fx.copySpeaker(nullptr, &a->speakers[0]));
    EXPECT_FALSE(fx.copySpeaker(&a->speakers[0], nullptr));

    EXPECT_TRUE(fx.deallocateArrangement(&b));
    EXPECT_EQ(b, nullptr);
    EXPECT_TRUE(fx.deallocateArrangement(&a));
    EXPECT_EQ(a, nullptr);
    EXPECT_TRUE(fx.deallocateArrangement(&a));
    EXPECT_FALSE(fx.allocateArrangement(nullptr, 2));
}

}  // namespace
