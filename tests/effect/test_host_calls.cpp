// What the effect sends to its host, and what it makes of the answers.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/host_recorder.h"
#include "vst2/brackenlume_opamp.h"

namespace {

using kvtest::HostCall;
using kvtest::HostRecorder;

TEST(HostCalls, AutomationStoresBeforeTellingTheHost) {
    HostRecorder host;
    BrackenlumeOpamp fx(HostRecorder::callback);
    float seenByHost = -1.0f;
    host.onCall = [&](const HostCall& c) {
        if (c.opcode == audioMasterAutomate) seenByHost = c.effect->getParameter(c.effect, c.index);
    };
    fx.setParameterAutomated(3, 0.8f);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].effect, fx.getAeffect());
    EXPECT_EQ(host.calls[0].opcode, audioMasterAutomate);
    EXPECT_EQ(host.calls[0].index, 3);
    EXPECT_EQ(host.calls[0].opt, 0.8f);
    EXPECT_EQ(seenByHost, 0.8f);
}

TEST(HostCalls, ArgumentsReachTheHostInTheirPlaces) {
    HostRecorder host;
    host.answer = [](const HostCall& c) -> intptr_t {
        return c.opcode == audioMasterCanDo ? 1 : 7;
    };
    BrackenlumeOpamp fx(HostRecorder::callback);
    int dummy = 0;
    auto last = [&]() { return host.calls.back(); };

    EXPECT_TRUE(fx.beginEdit(2));
    EXPECT_EQ(last().opcode, audioMasterBeginEdit);
    EXPECT_EQ(last().index, 2);
    EXPECT_TRUE(fx.endEdit(1));
    EXPECT_EQ(last().opcode, audioMasterEndEdit);
    EXPECT_EQ(last().index, 1);
    EXPECT_TRUE(fx.sizeWindow(240, 400));
    EXPECT_EQ(last().opcode, audioMasterSizeWindow);
    EXPECT_EQ(last().index, 240);
    EXPECT_EQ(last().value, 400);
    EXPECT_TRUE(fx.canHostDo("sizeWindow"));
    EXPECT_EQ(last().opcode, audioMasterCanDo);
    EXPECT_STREQ(static_cast<const char*>(last().ptr), "sizeWindow");
    EXPECT_EQ(fx.masterIdle(), 7);
    EXPECT_EQ(last().opcode, audioMasterIdle);
    // The plug neighbours: index 0 whatever the argument.
    EXPECT_EQ(fx.getPreviousPlug(5), reinterpret_cast<AEffect*>(7));
    EXPECT_EQ(last().opcode, audioMasterGetPreviousPlug);
    EXPECT_EQ(last().index, 0);
    fx.getNextPlug(3);
    EXPECT_EQ(last().opcode, audioMasterGetNextPlug);
    EXPECT_EQ(last().index, 0);
    // Pins: connected when the host answers 0, here it answers 7.
    EXPECT_FALSE(fx.isInputConnected(1));
    EXPECT_EQ(last().opcode, audioMasterPinConnected);
    EXPECT_EQ(last().index, 1);
    EXPECT_EQ(last().value, 0);
    EXPECT_FALSE(fx.isOutputConnected(0));
    EXPECT_EQ(last().value, 1);
    fx.wantEvents(3);
    EXPECT_EQ(last().opcode, audioMasterWantMidi);
    EXPECT_EQ(last().value, 3);
    EXPECT_EQ(fx.hostVendorSpecific(4, 5, &dummy, 6.0f), 7);
    EXPECT_EQ(last().opcode, audioMasterVendorSpecific);
    EXPECT_EQ(last().index, 4);
    EXPECT_EQ(last().value, 5);
    EXPECT_EQ(last().ptr, &dummy);
    EXPECT_EQ(last().opt, 6.0f);
    EXPECT_TRUE(fx.offlineStart(nullptr, 3, 2));
    EXPECT_EQ(last().opcode, audioMasterOfflineStart);
    EXPECT_EQ(last().index, 2);
    EXPECT_EQ(last().value, 3);
    fx.setOutputSampleRate(22050.0f);
    EXPECT_EQ(last().opcode, audioMasterSetOutputSampleRate);
    EXPECT_EQ(last().opt, 22050.0f);
    EXPECT_EQ(fx.getMasterVersion(), 7);
    EXPECT_EQ(last().opcode, audioMasterVersion);
    for (const HostCall& c : host.calls)
        EXPECT_EQ(c.effect, fx.getAeffect());

    // Null selectors and paths are not sent.
    const size_t count = host.calls.size();
    EXPECT_FALSE(fx.openFileSelector(nullptr));
    EXPECT_FALSE(fx.closeFileSelector(nullptr));
    EXPECT_FALSE(fx.getChunkFile(nullptr));
    EXPECT_EQ(host.calls.size(), count);
}

TEST(HostCalls, RateAndBlockSizeUpdatesIgnoreNonPositiveAnswers) {
    HostRecorder host;
    intptr_t rate = 0, block = 0;
    host.answer = [&](const HostCall& c) -> intptr_t {
        if (c.opcode == audioMasterGetSampleRate) return rate;
        if (c.opcode == audioMasterGetBlockSize) return block;
        return 0;
    };
    BrackenlumeOpamp fx(HostRecorder::callback);
    EXPECT_EQ(fx.updateSampleRate(), 44100.0);
    rate = -48000;
    EXPECT_EQ(fx.updateSampleRate(), 44100.0);
    rate = 96000;
    EXPECT_EQ(fx.updateSampleRate(), 96000.0);
    EXPECT_EQ(fx.getSampleRate(), 96000.0f);
    // The filter is not retuned by this path.
    EXPECT_EQ(fx.processorState().hpLeft.b0, 1.0);
    EXPECT_EQ(fx.updateBlockSize(), 1024);
    block = -1;
    EXPECT_EQ(fx.updateBlockSize(), 1024);
    block = 512;
    EXPECT_EQ(fx.updateBlockSize(), 512);
}

TEST(HostCalls, WithoutAHostEveryWrapperIsNeutral) {
    BrackenlumeOpamp fx(nullptr);
    fx.setParameterAutomated(0, 0.75f);
    EXPECT_EQ(fx.getParameter(0), 0.75f);
    EXPECT_EQ(fx.getMasterVersion(), 1);
    EXPECT_EQ(fx.getCurrentUniqueId(), 0);
    EXPECT_EQ(fx.masterIdle(), 0);
    EXPECT_TRUE(fx.isInputConnected(0));
    EXPECT_TRUE(fx.isOutputConnected(1));
    EXPECT_FALSE(fx.beginEdit(0));
    EXPECT_FALSE(fx.endEdit(0));
    EXPECT_FALSE(fx.canHostDo("sizeWindow"));
    EXPECT_FALSE(fx.sizeWindow(1, 1));
    EXPECT_FALSE(fx.needIdle());
    EXPECT_FALSE(fx.ioChanged());
    EXPECT_FALSE(fx.updateDisplay());
    EXPECT_EQ(fx.getTimeInfo(0), nullptr);
    EXPECT_EQ(fx.getPreviousPlug(0), nullptr);
    EXPECT_EQ(fx.getDirectory(), nullptr);
    EXPECT_EQ(fx.getInputSpeakerArrangement(), nullptr);
    EXPECT_EQ(fx.updateSampleRate(), 44100.0);
    EXPECT_EQ(fx.updateBlockSize(), 1024);
    char text[65] = "untouched";
    EXPECT_FALSE(fx.getHostVendorString(text));
    EXPECT_STREQ(text, "untouched");
}

TEST(HostCalls, ResumeNeverAsksForMidi) {
    HostRecorder host;
    BrackenlumeOpamp fx(HostRecorder::callback);
    AEffect* e = fx.getAeffect();
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    for (const HostCall& c : host.calls)
        EXPECT_NE(c.opcode, audioMasterWantMidi);
}

TEST(HostCalls, HostVersionIsAskedWithoutAnEffect) {
    HostRecorder host;
    auto factory = [](audioMasterCallback cb) -> AudioEffect* { return new BrackenlumeOpamp(cb); };
    AEffect* e = kv::createInstance(HostRecorder::callback, factory);
    ASSERT_NE(e, nullptr);
    ASSERT_FALSE(host.calls.empty());
    EXPECT_EQ(host.calls[0].opcode, audioMasterVersion);
    EXPECT_EQ(host.calls[0].effect, nullptr);
    EXPECT_EQ(host.calls[0].index, 0);
    EXPECT_EQ(host.calls[0].value, 0);
    EXPECT_EQ(host.calls[0].ptr, nullptr);
    EXPECT_EQ(host.calls[0].opt, 0.0f);
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}

}  // namespace
