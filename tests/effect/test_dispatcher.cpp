// What the host gets back from the AEffect record: the fields, the rows of
// the dispatcher and the trampolines.
#include <gtest/gtest.h>

#include <cmath>

#include <cstring>
#include <memory>

#include "tests/support/host_recorder.h"
#include "vst2/base/aeffeditor.h"
#include "vst2/brackenlume_opamp.h"

namespace {

intptr_t dispatch(AEffect* e, int32_t opcode, int32_t index = 0, intptr_t value = 0,
                  void* ptr = nullptr, float opt = 0.0f) {
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

int gEffectsDestroyed = 0;
int gEditorsDestroyed = 0;

// An editor that records what the dispatcher hands it.
class RecordingEditor : public AEffEditor {
  public:
    explicit RecordingEditor(AudioEffect* fx) : AEffEditor(fx) {}
    ~RecordingEditor() override { ++gEditorsDestroyed; }
    bool getRect(ERect** rect) override {
        if (rect) *rect = &area;
        return true;
    }
    bool open(void* ptr) override {
        AEffEditor::open(ptr);
        return true;
    }
    void idle() override { ++idles; }
    bool onKeyDown(VstKeyCode& key) override {
        lastKey = key;
        ++keyDowns;
        return true;
    }
    bool onKeyUp(VstKeyCode& key) override {
        lastKey = key;
        return false;
    }
    bool setKnobMode(int32_t mode) override {
        knobMode = mode;
        return true;
    }
    void* window() const { return systemWindow; }

    ERect area{0, 0, 400, 240};
    VstKeyCode lastKey{};
    int idles = 0;
    int keyDowns = 0;
    int32_t knobMode = -1;
};

class CountedOpamp : public BrackenlumeOpamp {
  public:
    using BrackenlumeOpamp::BrackenlumeOpamp;
    ~CountedOpamp() override { ++gEffectsDestroyed; }
    void suspend() override { ++suspends; }
    void resume() override { ++resumes; }
    int32_t getChunk(void** data, bool isPreset) override {
        lastPreset = isPreset;
        return BrackenlumeOpamp::getChunk(data, isPreset);
    }
    int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override {
        lastPreset = isPreset;
        lastByteSize = byteSize;
        return BrackenlumeOpamp::setChunk(data, byteSize, isPreset);
    }
    int suspends = 0;
    int resumes = 0;
    bool lastPreset = false;
    int32_t lastByteSize = -1;
};

struct HostRequests : ::testing::Test {
    kvtest::HostRecorder host;
    CountedOpamp* fx = new CountedOpamp(kvtest::HostRecorder::callback);
    AEffect* e = fx->getAeffect();
    void TearDown() override {
        if (fx) dispatch(e, effClose);
    }
};

TEST_F(HostRequests, RecordShowsTheIdentityOfTheEffect) {
    EXPECT_EQ(e->magic, 0x56737450);
    EXPECT_EQ(e->numPrograms, 0);
    EXPECT_EQ(e->numParams, 4);
    EXPECT_EQ(e->numInputs, 2);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->flags, 0x1030);  // no editor yet
    EXPECT_EQ(e->uniqueID, 0x4B563233);
    EXPECT_EQ(e->version, 1);
    EXPECT_EQ(e->initialDelay, 0);
    EXPECT_EQ(e->ioRatio, 1.0f);
    EXPECT_EQ(e->object, static_cast<AudioEffect*>(fx));
    EXPECT_EQ(e->user, nullptr);
    EXPECT_NE(e->processReplacing, nullptr);
    EXPECT_NE(e->processDoubleReplacing, nullptr);
    for (char byte : e->future)
        EXPECT_EQ(byte, 0);
    // The old accumulating entry does nothing at all.
    float l[4] = {1, 2, 3, 4}, r[4] = {5, 6, 7, 8};
    float* io[2] = {l, r};
    e->process(e, io, io, 4);
    EXPECT_EQ(l[3], 4.0f);
    EXPECT_EQ(r[0], 5.0f);
    EXPECT_EQ(fx->processorState().bias, 1e-15);
}

TEST_F(HostRequests, ProgramIsSetOnlyBelowTheProgramCount) {
    dispatch(e, effSetProgram, 0, 0);
    EXPECT_EQ(dispatch(e, effGetProgram), 0);
    dispatch(e, effSetProgram, 0, 5);
    EXPECT_EQ(dispatch(e, effGetProgram), 0);
    // No lower bound: a negative value passes the check.
    dispatch(e, effSetProgram, 0, -1);
    EXPECT_EQ(dispatch(e, effGetProgram), -1);
}

TEST_F(HostRequests, FixedAnswersOfTheDispatcher) {
    EXPECT_EQ(dispatch(e, effIdentify), 0x4E764566);
    EXPECT_EQ(dispatch(e, effGetVu), 0);
    EXPECT_EQ(dispatch(e, effEditDraw), 0);
    EXPECT_EQ(dispatch(e, 80), 0);
    EXPECT_EQ(dispatch(e, -1), 0);
    EXPECT_EQ(dispatch(e, effGetVendorVersion), 1110);
    EXPECT_EQ(dispatch(e, effGetPlugCategory), 1);
    EXPECT_EQ(dispatch(e, effGetVstVersion), 2400);
    EXPECT_EQ(dispatch(e, effCanBeAutomated, 2), 1);
    EXPECT_EQ(dispatch(e, effGetCurrentMidiProgram), -1);
    EXPECT_EQ(dispatch(e, effGetTailSize), 0);
    EXPECT_EQ(dispatch(e, effSetTotalSampleToProcess, 0, 4321), 4321);
    EXPECT_EQ(dispatch(e, effSetTotalSampleToProcess, 0, -7), -7);
    char midi[] = "receiveVstMidiEvent";
    char other[] = "bypass";
    EXPECT_EQ(dispatch(e, effCanDo, 0, 0, midi), -1);
    EXPECT_EQ(dispatch(e, effCanDo, 0, 0, other), -1);
    EXPECT_EQ(dispatch(e, effCanDo, 0, 0, nullptr), -1);
    // Retired opcodes answer 0.
    for (int32_t op : {28, 30, 31, 32, 36, 37, 43, 46, 53, 54, 55, 57}) {
        EXPECT_EQ(dispatch(e, op, 1, 1), 0) << op;
    }
}

TEST_F(HostRequests, MainsChangedSuspendsOnZeroAndResumesOtherwise) {
    dispatch(e, effMainsChanged, 0, 0);
    EXPECT_EQ(fx->suspends, 1);
    EXPECT_EQ(fx->resumes, 0);
    dispatch(e, effMainsChanged, 0, 1);
    dispatch(e, effMainsChanged, 0, -3);
    EXPECT_EQ(fx->suspends, 1);
    EXPECT_EQ(fx->resumes, 2);
}

TEST_F(HostRequests, SampleRateAndBlockSizeAreStored) {
    EXPECT_EQ(fx->getSampleRate(), 44100.0f);
    EXPECT_EQ(fx->getBlockSize(), 1024);
    dispatch(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    dispatch(e, effSetBlockSize, 0, 256);
    EXPECT_EQ(fx->getSampleRate(), 48000.0f);
    EXPECT_EQ(fx->getBlockSize(), 256);
}

TEST_F(HostRequests, CloseReturnsOneAndDeletesTheInstanceAndItsEditor) {
    fx->setEditor(new RecordingEditor(fx));
    const int effectsBefore = gEffectsDestroyed;
    const int editorsBefore = gEditorsDestroyed;
    EXPECT_EQ(dispatch(e, effClose), 1);
    EXPECT_EQ(gEffectsDestroyed, effectsBefore + 1);
    EXPECT_EQ(gEditorsDestroyed, editorsBefore + 1);
    fx = nullptr;
}

TEST_F(HostRequests, ChunkOpcodesPassTheirArguments) {
    void* data = nullptr;
    EXPECT_EQ(dispatch(e, effGetChunk, 1, 0, &data), 16);
    EXPECT_TRUE(fx->lastPreset);
    ASSERT_NE(data, nullptr);
    void* again = nullptr;
    EXPECT_EQ(dispatch(e, effGetChunk, 0, 0, &again), 16);
    EXPECT_FALSE(fx->lastPreset);
    unsigned char bytes[16];
    std::memcpy(bytes, again, 16);  // the first buffer is gone now
    bytes[3] = 0x3F;                // Gain 0.25 -> 0.5 (00 00 00 3F)
    bytes[2] = 0x00;
    // value is the byte size: 4 bytes apply only the first value.
    const float volumeBefore = fx->getParameter(3);
    bytes[15] = 0x00;  // would set Volume to 0 if it were read
    EXPECT_EQ(dispatch(e, effSetChunk, 7, 4, bytes), 0);
    EXPECT_EQ(fx->lastByteSize, 4);
    EXPECT_TRUE(fx->lastPreset);
    EXPECT_EQ(fx->getParameter(0), 0.5f);
    EXPECT_EQ(fx->getParameter(3), volumeBefore);
    // A null data pointer for the host's chunk pointer answers 0.
    EXPECT_EQ(dispatch(e, effGetChunk, 0, 0, nullptr), 0);
}

TEST_F(HostRequests, EditorOpcodesWithoutAnEditorAnswerZero) {
    ERect* rect = reinterpret_cast<ERect*>(0x1);
    EXPECT_EQ(dispatch(e, effEditGetRect, 0, 0, &rect), 0);
    EXPECT_EQ(rect, reinterpret_cast<ERect*>(0x1));
    int window = 0;
    EXPECT_EQ(dispatch(e, effEditOpen, 0, 0, &window), 0);
    EXPECT_EQ(dispatch(e, effEditClose), 0);
    EXPECT_EQ(dispatch(e, effEditIdle), 0);
    EXPECT_EQ(dispatch(e, effEditKeyDown, 'a', 1, nullptr, 2.0f), 0);
    EXPECT_EQ(dispatch(e, effEditKeyUp, 'a', 1, nullptr, 2.0f), 0);
    EXPECT_EQ(dispatch(e, effSetEditKnobMode, 0, 2), 0);
}

TEST_F(HostRequests, EditorOpcodesReachTheEditor) {
    auto* editor = new RecordingEditor(fx);
    fx->setEditor(editor);
    ERect* rect = nullptr;
    EXPECT_EQ(dispatch(e, effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ(rect, &editor->area);
    EXPECT_EQ(dispatch(e, effEditGetRect, 0, 0, nullptr), 0);
    int window = 0;
    EXPECT_EQ(dispatch(e, effEditOpen, 0, 0, &window), 1);
    EXPECT_EQ(editor->window(), &window);
    dispatch(e, effEditIdle);
    EXPECT_EQ(editor->idles, 1);
    // Key: character from index, virt from the low byte of value, modifier
    // from opt truncated.
    EXPECT_EQ(dispatch(e, effEditKeyDown, 'q', 0x10C, nullptr, 2.9f), 1);
    EXPECT_EQ(editor->lastKey.character, 'q');
    EXPECT_EQ(editor->lastKey.virt, 0x0C);
    EXPECT_EQ(editor->lastKey.modifier, 2);
    EXPECT_EQ(dispatch(e, effEditKeyUp, 'w', 4, nullptr, 1.0f), 0);
    EXPECT_EQ(editor->lastKey.character, 'w');
    EXPECT_EQ(editor->lastKey.modifier, 1);
    // A NaN or huge opt has no integer value: no modifier.
    dispatch(e, effEditKeyDown, 'n', 0, nullptr, std::nanf(""));
    EXPECT_EQ(editor->lastKey.modifier, 0);
    dispatch(e, effEditKeyDown, 'h', 0, nullptr, 1e20f);
    EXPECT_EQ(editor->lastKey.modifier, 0);
    EXPECT_EQ(dispatch(e, effSetEditKnobMode, 0, 2), 1);
    EXPECT_EQ(editor->knobMode, 2);
    dispatch(e, effEditClose);
    EXPECT_EQ(editor->window(), nullptr);
}

TEST_F(HostRequests, BaseEditorAnswersNo) {
    AEffEditor plain(fx);
    EXPECT_EQ(plain.getEffect(), fx);
    ERect dummy{};
    ERect* rect = &dummy;
    EXPECT_FALSE(plain.getRect(&rect));
    EXPECT_EQ(rect, nullptr);
    EXPECT_FALSE(plain.getRect(nullptr));
    int window = 0;
    EXPECT_FALSE(plain.isOpen());
    EXPECT_FALSE(plain.open(&window));
    EXPECT_TRUE(plain.isOpen());
    plain.close();
    EXPECT_FALSE(plain.isOpen());
    VstKeyCode key{};
    EXPECT_FALSE(plain.onKeyDown(key));
    EXPECT_FALSE(plain.onKeyUp(key));
    EXPECT_FALSE(plain.onWheel(1.0f));
    EXPECT_FALSE(plain.setKnobMode(1));
}

// Every text the host reads ends with a zero at the limit and never
// writes past it.
TEST_F(HostRequests, StringsStayWithinTheirLimits) {
    struct Case {
        int32_t opcode;
        int32_t index;
        int limit;
        const char* expected;
        intptr_t result;
    };
    const Case cases[] = {
        {effGetParamName, 1, 8, "Pad 1", 0},
        {effGetParamLabel, 1, 8, "n/y", 0},
        {effGetParamDisplay, 3, 8, "0.500000", 0},
        {effGetProgramName, 0, 24, "Default", 0},
        {effGetEffectName, 0, 32, "KV23-T ZuDiz", 1},
        {effGetProductString, 0, 64, "KV23-T ZuDiz", 1},
        {effGetVendorString, 0, 64, "Harrow Quill", 1},
    };
    for (const Case& c : cases) {
        char text[80];
        std::memset(text, '#', sizeof(text));
        EXPECT_EQ(dispatch(e, c.opcode, c.index, 0, text), c.result) << c.expected;
        EXPECT_STREQ(text, c.expected);
        EXPECT_EQ(text[c.limit], 0) << c.expected;
        EXPECT_EQ(text[c.limit + 1], '#') << c.expected;
    }
}

TEST_F(HostRequests, NullPointersAnswerZeroAndTouchNothing) {
    for (int32_t op : {effGetParamName, effGetParamLabel, effGetParamDisplay, effGetProgramName,
                       effSetProgramName, effGetEffectName, effGetVendorString, effGetProductString,
                       effGetChunk, effSetChunk, effGetSpeakerArrangement, effSetSpeakerArrangement,
                       effEditGetRect, effString2Parameter, effGetProgramNameIndexed}) {
        EXPECT_EQ(dispatch(e, op, 0, 0, nullptr), 0) << op;
    }
    // No text matches no capability.
    EXPECT_EQ(dispatch(e, effCanDo, 0, 0, nullptr), -1);
    EXPECT_EQ(fx->getParameter(0), 0.25f);
    EXPECT_FALSE(fx->isMono());
}

TEST_F(HostRequests, InvalidIndicesLeaveTextUntouched) {
    for (int32_t op : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
        for (int32_t index : {-1, 4, 1000}) {
            char text[12];
            std::memset(text, '#', sizeof(text));
            dispatch(e, op, index, 0, text);
            EXPECT_EQ(text[0], '#') << op << " " << index;
        }
    }
}

TEST_F(HostRequests, SpeakerArrangementSetsMonoOnlyForOneAndOne) {
    VstSpeakerArrangement in{}, out{};
    auto set = [&](int32_t inputs, int32_t outputs) {
        in.numChannels = inputs;
        out.numChannels = outputs;
        return dispatch(e, effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&in), &out);
    };
    EXPECT_EQ(set(1, 1), 1);
    EXPECT_TRUE(fx->isMono());
    EXPECT_EQ(set(1, 2), 0);
    EXPECT_FALSE(fx->isMono());
    EXPECT_EQ(set(1, 1), 1);
    EXPECT_EQ(set(2, 2), 1);
    EXPECT_FALSE(fx->isMono());
    EXPECT_EQ(set(1, 1), 1);
    EXPECT_EQ(set(6, 6), 0);
    EXPECT_FALSE(fx->isMono());
    // A missing arrangement leaves the flag alone.
    EXPECT_EQ(set(1, 1), 1);
    EXPECT_EQ(dispatch(e, effSetSpeakerArrangement, 0, 0, &out), 0);
    EXPECT_TRUE(fx->isMono());

    VstSpeakerArrangement* gotIn = &in;
    VstSpeakerArrangement* gotOut = &out;
    EXPECT_EQ(dispatch(e, effGetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&gotIn), &gotOut),
              0);
    EXPECT_EQ(gotIn, nullptr);
    EXPECT_EQ(gotOut, nullptr);
}

TEST(EntryPoint, HostVersionZeroGivesNoInstance) {
    static int built = 0;
    auto factory = [](audioMasterCallback cb) -> AudioEffect* {
        ++built;
        return new BrackenlumeOpamp(cb);
    };
    {
        kvtest::HostRecorder host;
        host.answer = [](const kvtest::HostCall&) -> intptr_t { return 0; };
        EXPECT_EQ(kv::createInstance(kvtest::HostRecorder::callback, factory), nullptr);
        EXPECT_EQ(built, 0);
        ASSERT_EQ(host.calls.size(), 1u);
        EXPECT_EQ(host.calls[0].effect, nullptr);
        EXPECT_EQ(host.calls[0].opcode, audioMasterVersion);
    }
    EXPECT_EQ(kv::createInstance(nullptr, factory), nullptr);
    kvtest::HostRecorder host;
    AEffect* e = kv::createInstance(kvtest::HostRecorder::callback, factory);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(built, 1);
    EXPECT_EQ(e->uniqueID, 0x4B563233);
    EXPECT_EQ(e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f), 1);
    auto failing = [](audioMasterCallback) -> AudioEffect* { return nullptr; };
    EXPECT_EQ(kv::createInstance(kvtest::HostRecorder::callback, failing), nullptr);
}

}  // namespace
