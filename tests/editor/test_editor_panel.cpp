// The panel editor driven through the plug-in's AEffect record on the
// headless window: what the host sees, what the window shows, and how the
// controls, the parameters and the host calls move together.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <string>

#include "editor_test_support.h"
#include "panel/brackenlume_knob.h"
#include "panel/brackenlume_peak_led.h"
#include "platform/headless/headless_window.h"
#include "vstgui/conoffbutton.h"
#include "vstgui/ctextedit.h"

namespace {

using kvtest::Instance;
using VSTGUI::CPoint;
using VSTGUI::CRect;
using VSTGUI::platform::HeadlessTextField;
using VSTGUI::platform::HeadlessWindow;

using namespace kvtest::panel;

// The filmstrip image for a value: 96 steps of 80 pixels over 7680, the
// last image only for 1 itself.
CPoint knobOffset(float value) {
    const auto pos = static_cast<int32_t>(7680.0f * value);
    return CPoint(0, pos >= 7680 ? 7680 : pos / 80 * 80);
}

TEST(EditorHostView, FlagsAndSizeAreKnownBeforeTheFirstOpen) {
    Instance plugin;
    ASSERT_NE(plugin.fx, nullptr);
    EXPECT_EQ(plugin.fx->flags, 0x1031);
    ERect* rect = nullptr;
    EXPECT_EQ(plugin.dispatch(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 400);
    EXPECT_EQ(rect->right, 240);
    EXPECT_EQ(HeadlessWindow::liveCount(), 0);
    // The size stays the same once a window is open.
    plugin.openAndPaint();
    EXPECT_EQ(HeadlessWindow::last()->width(), 240);
    EXPECT_EQ(HeadlessWindow::last()->height(), 400);
    plugin.dispatch(effEditClose);
    EXPECT_EQ(HeadlessWindow::liveCount(), 0);
}

TEST(EditorPanel, ValuesSetWhileClosedAppearWhenTheWindowOpens) {
    Instance plugin;
    plugin.setParameter(0, 0.75f);
    plugin.setParameter(2, 1.0f);
    plugin.setParameter(3, 0.2f);
    EXPECT_EQ(plugin.editor()->getGainKnob(), nullptr);  // no control exists yet
    EXPECT_EQ(plugin.getParameter(0), 0.75f);

    plugin.openAndPaint();
    BrackenlumeOpampGUI* gui = plugin.editor();
    EXPECT_EQ(gui->getGainKnob()->getValue(), 0.75f);
    EXPECT_EQ(gui->getGainText()->getValue(), 0.75f);
    EXPECT_EQ(gui->getVolumeKnob()->getValue(), 0.2f);
    EXPECT_EQ(gui->getPad1Button()->getValue(), 0.0f);
    EXPECT_EQ(gui->getPad2Button()->getValue(), 1.0f);
    EXPECT_EQ(kvtest::mismatches(plugin, 102, kGainKnob, knobOffset(0.75f)), 0);
    EXPECT_EQ(kvtest::mismatches(plugin, 102, kVolumeKnob, knobOffset(0.2f)), 0);
    EXPECT_EQ(kvtest::mismatches(plugin, 103, kPad1, CPoint(0, 0)), 0);   // off above
    EXPECT_EQ(kvtest::mismatches(plugin, 103, kPad2, CPoint(0, 30)), 0);  // on below
    EXPECT_EQ(kvtest::mismatches(plugin, 104, kLed, CPoint(0, 0)), 0);    // dark
    // Somewhere away from the controls the panel is the background itself.
    EXPECT_EQ(plugin.pixel(5, 395), kvtest::composed(101, CRect(0, 0, 240, 400), {}, 5, 395));

    // The knob's own settings.
    EXPECT_EQ(gui->getGainKnob()->getDragRange(), 640.f);
    EXPECT_EQ(gui->getVolumeKnob()->getWheelInc(), 0.125f);
    EXPECT_EQ(gui->getGainKnob()->getDefaultValue(), 0.25f);
    EXPECT_EQ(gui->getVolumeKnob()->getDefaultValue(), 0.5f);
    EXPECT_EQ(gui->getGainText()->getFontColor(), (VSTGUI::CColor{168, 168, 168, 255}));
}

TEST(EditorPanel, HostChangesMoveTheControlsOfThatParameterOnly) {
    Instance plugin;
    plugin.openAndPaint();
    BrackenlumeOpampGUI* gui = plugin.editor();
    plugin.setParameter(3, 1.7f);  // clamped by the effect; the controls show the stored 1
    EXPECT_EQ(gui->getVolumeKnob()->getValue(), 1.0f);
    EXPECT_EQ(gui->getVolumeText()->getValue(), 1.0f);
    EXPECT_EQ(gui->getGainKnob()->getValue(), 0.25f);
    // A switch shows what the sound does: on above 0.5, off up to it.
    plugin.setParameter(1, 0.9f);
    EXPECT_EQ(gui->getPad1Button()->getValue(), 1.0f);
    EXPECT_EQ(gui->getPad2Button()->getValue(), 0.0f);
    plugin.idle();
    EXPECT_EQ(kvtest::mismatches(plugin, 102, kVolumeKnob, CPoint(0, 7680)), 0);
    EXPECT_EQ(kvtest::mismatches(plugin, 103, kPad1, CPoint(0, 30)), 0);
    for (float off : {0.3f, 0.5f}) {
        plugin.setParameter(1, off);
        EXPECT_EQ(gui->getPad1Button()->getValue(), 0.0f) << off;
        plugin.idle();
        EXPECT_EQ(kvtest::mismatches(plugin, 103, kPad1, CPoint(0, 0)), 0) << off;
    }
    plugin.setParameter(1, 0.9f);
    // A chunk moves them too, without any automation message.
    const float chunk[4] = {0.0f, 0.0f, 1.0f, 0.5f};
    plugin.clearEvents();
    plugin.dispatch(effSetChunk, 0, sizeof chunk, const_cast<float*>(chunk));
    EXPECT_EQ(gui->getGainKnob()->getValue(), 0.0f);
    EXPECT_EQ(gui->getPad2Button()->getValue(), 1.0f);
    EXPECT_EQ(plugin.count(audioMasterAutomate), 0);
    plugin.dispatch(effEditClose);
}

TEST(EditorPanel, DecibelTextsOfTheFields) {
    char text[256];
    const std::pair<float, const char*> gains[] = {
        {0.25f, "0.00"}, {0.0f, "-8.00"}, {1.0f, "24.00"}, {0.4375f, "6.00"}};
    for (auto [value, want] : gains) {
        BrackenlumeOpampGUI::gainToString(value, text);
        EXPECT_STREQ(text, want) << value;
    }
    // The last one is -0.0000038 dB, which rounds to zero: no "-0.00".
    const std::pair<float, const char*> volumes[] = {
        {0.5f, "0.00"}, {0.0f, "-32.00"}, {1.0f, "32.00"}, {0.75f, "16.00"}, {0.4999999f, "0.00"}};
    for (auto [value, want] : volumes) {
        BrackenlumeOpampGUI::volumeToString(value, text);
        EXPECT_STREQ(text, want) << value;
    }
}

// GTK and Qt hosts adopt the user's locale; a German one writes 3,5. The
// fields show a point whatever the locale and read a point or a comma.
TEST(EditorPanel, DecibelTextsDoNotFollowTheHostsLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "the de_DE.UTF-8 locale is missing (scripts/setup.sh generates it)";
    char text[256];
    BrackenlumeOpampGUI::volumeToString(0.4453125f, text);
    EXPECT_STREQ(text, "-3.50");
    float number = 0.f;
    for (const char* typed : {"-3.5", "-3,5", " -3.50 dB", "-35e-1"}) {
        EXPECT_TRUE(BrackenlumeOpampGUI::readDecibels(typed, number)) << typed;
        EXPECT_EQ(number, -3.5f) << typed;
    }
    EXPECT_TRUE(BrackenlumeOpampGUI::readDecibels("+6", number));
    EXPECT_EQ(number, 6.f);
    EXPECT_TRUE(BrackenlumeOpampGUI::readDecibels(",5", number));
    EXPECT_EQ(number, 0.5f);
    EXPECT_TRUE(BrackenlumeOpampGUI::readDecibels("1e999", number));  // clamps later
    EXPECT_GT(number, 1e6f);
    EXPECT_TRUE(BrackenlumeOpampGUI::readDecibels("-9e999", number));
    EXPECT_LT(number, -1e6f);
    // Too small for a float, with or without an exponent: zero decibels.
    const std::string tiny = "0." + std::string(50, '0') + "1";
    for (const std::string& typed : {tiny, "-" + tiny, std::string("1e-99"), tiny + "e5"}) {
        EXPECT_TRUE(BrackenlumeOpampGUI::readDecibels(typed.c_str(), number)) << typed;
        EXPECT_EQ(number, 0.f) << typed;
    }
    for (const char* none : {"", "   ", "loud", "-", ".", "nan", "inf", "e5", "- 3"})
        EXPECT_FALSE(BrackenlumeOpampGUI::readDecibels(none, number)) << '"' << none << '"';
    std::setlocale(LC_ALL, before.c_str());
}

TEST(EditorTyping, TypedDecibelsSetTheParameterWithoutAutomation) {
    kvtest::TestClock clock{5000};
    Instance plugin;
    plugin.openAndPaint();
    BrackenlumeOpampGUI* gui = plugin.editor();
    plugin.clearEvents();

    ASSERT_TRUE(typeInto(kGainText, "6"));
    EXPECT_EQ(plugin.getParameter(0), (6.0f + 8.0f) * 0.03125f);  // 0.4375
    EXPECT_EQ(gui->getGainKnob()->getValue(), 0.4375f);
    EXPECT_EQ(gui->getGainKnob()->imageOffsetFor(0.4375f), 42 * 80);
    EXPECT_EQ(plugin.count(audioMasterAutomate), 0);
    // The field's bracket carries its tag, which is no parameter: the host
    // hears nothing of it.
    EXPECT_EQ(plugin.count(audioMasterBeginEdit), 0);
    EXPECT_EQ(plugin.count(audioMasterEndEdit), 0);
    plugin.idle();
    EXPECT_EQ(kvtest::mismatches(plugin, 102, kGainKnob, CPoint(0, 3360)), 0);

    plugin.setParameter(3, 0.9f);
    ASSERT_TRUE(typeInto(kVolumeText, "loud"));  // no number: a stray key changes nothing
    EXPECT_EQ(plugin.getParameter(3), 0.9f);
    ASSERT_TRUE(typeInto(kVolumeText, ""));
    EXPECT_EQ(plugin.getParameter(3), 0.9f);
    plugin.idle();
    char shown[256];
    gui->getVolumeText()->getText(shown);
    EXPECT_STREQ(shown, "25.60");  // the field shows the value again
    ASSERT_TRUE(typeInto(kVolumeText, "-3,5"));
    EXPECT_EQ(plugin.getParameter(3), 0.4453125f);
    ASSERT_TRUE(typeInto(kGainText, "30"));  // +38 dB is past the end of the scale
    EXPECT_EQ(plugin.getParameter(0), 1.0f);
    ASSERT_TRUE(typeInto(kVolumeText, "-40"));
    EXPECT_EQ(plugin.getParameter(3), 0.0f);
    ASSERT_TRUE(typeInto(kVolumeText, "-7.5 dB"));  // the number at the start counts
    EXPECT_EQ(plugin.getParameter(3), (-7.5f + 32.0f) * 0.015625f);
    ASSERT_TRUE(typeInto(kGainText, "nan"));  // no level: the parameter stays
    EXPECT_EQ(plugin.getParameter(0), 1.0f);
    ASSERT_TRUE(typeInto(kGainText, "inf"));
    EXPECT_EQ(plugin.getParameter(0), 1.0f);
    EXPECT_EQ(plugin.count(audioMasterAutomate), 0);

    // Automation moves the gain while the field is open; typing the text the
    // field opened with still sets it.
    plugin.setParameter(0, 0.25f);
    plugin.idle();
    HeadlessWindow* window = HeadlessWindow::last();
    window->setPointer(centre(kGainText), 1);
    window->click(centre(kGainText));
    window->setPointer(centre(kGainText), 0);
    HeadlessTextField* entry = HeadlessTextField::last();
    ASSERT_NE(entry, nullptr);
    plugin.setParameter(0, 0.5f);
    entry->setText("0.00");
    entry->pressReturn();
    EXPECT_EQ(plugin.getParameter(0), 0.25f);
    plugin.dispatch(effEditClose);
}

TEST(EditorGestures, KnobDragSwitchClickAndResetReachTheHost) {
    kvtest::TestClock clock{5000};
    Instance plugin;
    plugin.openAndPaint();
    HeadlessWindow* window = HeadlessWindow::last();
    plugin.clearEvents();

    // A drag of 64 pixels up on the gain knob: a tenth of the range.
    const CPoint c = centre(kGainKnob);
    const CPoint up(c.h, c.v - 64);
    window->scriptPointer({{c, 1}, {c, 1}, {up, 1}, {up, 0}});
    window->click(c);
    std::vector<kvtest::HostCall> seen = plugin.events();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front().opcode, audioMasterBeginEdit);
    EXPECT_EQ(seen.front().index, 0);
    EXPECT_EQ(seen.back().opcode, audioMasterEndEdit);
    EXPECT_EQ(seen.back().index, 0);
    EXPECT_GE(plugin.count(audioMasterAutomate), 1);
    EXPECT_FLOAT_EQ(plugin.getParameter(0), 0.25f + 64.0f / 640.0f);
    for (const kvtest::HostCall& e : seen) {
        if (e.opcode == audioMasterAutomate) {
            EXPECT_EQ(e.index, 0);
        }
    }

    // Control-click: back to 0 dB.
    plugin.clearEvents();
    window->scriptPointer({});
    window->setPointer(c, 1 | 16);
    window->click(c);
    EXPECT_EQ(plugin.getParameter(0), 0.25f);
    EXPECT_EQ(plugin.count(audioMasterAutomate), 1);

    // A click on a switch toggles its parameter inside the bracket.
    plugin.clearEvents();
    window->setPointer(centre(kPad2), 1);
    window->click(centre(kPad2));
    EXPECT_EQ(plugin.getParameter(2), 1.0f);
    seen = plugin.events();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].opcode, audioMasterBeginEdit);
    EXPECT_EQ(seen[1].opcode, audioMasterAutomate);
    EXPECT_EQ(seen[1].index, 2);
    EXPECT_EQ(seen[1].opt, 1.0f);
    EXPECT_EQ(seen[2].opcode, audioMasterEndEdit);
    window->click(centre(kPad2));
    EXPECT_EQ(plugin.getParameter(2), 0.0f);
    // A right click does nothing.
    window->setPointer(centre(kPad1), 4);
    window->click(centre(kPad1));
    EXPECT_EQ(plugin.getParameter(1), 0.0f);
    // A click flips what the sound does: from 0.7 (engaged) to off, from
    // 0.3 (not engaged) to on.
    for (float before : {0.7f, 0.3f}) {
        plugin.setParameter(2, before);
        window->setPointer(centre(kPad2), 1);
        window->click(centre(kPad2));
        EXPECT_EQ(plugin.getParameter(2), before > 0.5f ? 0.0f : 1.0f) << before;
    }
    plugin.dispatch(effEditClose);
}

TEST(EditorIdle, TwoPumpsWithinTenMillisecondsRunOnePass) {
    kvtest::TestClock clock{5000};
    Instance plugin;
    plugin.openAndPaint();
    plugin.clearEvents();
    BrackenlumeOpampGUI* gui = plugin.editor();
    gui->pumpIdle();
    clock.now += 5;
    gui->pumpIdle();
    EXPECT_EQ(plugin.count(audioMasterIdle), 1);
    // A hundred milliseconds after the first pass the next one is due.
    clock.now += 100;
    gui->pumpIdle();
    EXPECT_EQ(plugin.count(audioMasterIdle), 2);
    plugin.dispatch(effEditClose);
}

TEST(EditorMeter, LedLightsForAnOverAndGoesDarkAfterTheHold) {
    kvtest::TestClock clock{5000};
    Instance plugin;
    plugin.openAndPaint();
    BrackenlumePeakLed* led = plugin.editor()->getPeakLed();
    plugin.process(0.5f);
    EXPECT_GT(led->getPeak(), 0.0);
    EXPECT_LE(led->getPeak(), 1.0);
    plugin.idle();
    EXPECT_FALSE(led->isLit());

    plugin.setParameter(3, 1.0f);  // +32 dB: every sample is an over
    plugin.process(0.5f);
    EXPECT_GT(led->getPeak(), 1.0);
    plugin.idle();
    EXPECT_TRUE(led->isLit());
    EXPECT_EQ(kvtest::mismatches(plugin, 104, kLed, CPoint(0, 28)), 0);
    clock.now += 299;
    plugin.idle();
    EXPECT_EQ(kvtest::mismatches(plugin, 104, kLed, CPoint(0, 28)), 0);
    clock.now += 1;
    plugin.idle();
    EXPECT_FALSE(led->isLit());
    EXPECT_EQ(kvtest::mismatches(plugin, 104, kLed, CPoint(0, 0)), 0);
    plugin.dispatch(effEditClose);
}

TEST(EditorMeter, MeterIsTheMeanOfBothOutputsOrTheLeftOneInMono) {
    Instance plugin;
    plugin.openAndPaint();
    BrackenlumePeakLed* led = plugin.editor()->getPeakLed();
    // Gain 0 (no saturation, -8 dB drive), volume +8 dB, no high-pass yet:
    // the output is the input times 10^0 = 1, the same on both sides.
    plugin.setParameter(0, 0.0f);
    plugin.setParameter(3, 0.625f);
    float left[4] = {0.5f, -0.25f, 0.1f, 0.0f}, right[4] = {0.1f, 0.75f, 0.0f, 0.0f};
    float* in[2] = {left, right};
    float outL[4], outR[4];
    float* out[2] = {outL, outR};
    plugin.fx->processReplacing(plugin.fx, in, out, 4);
    const double want = (0.25 + 0.75) * 0.5;  // the second sample
    EXPECT_NEAR(led->getPeak(), want, 1e-6);

    plugin.idle();  // clears the peak
    VstSpeakerArrangement mono{};
    mono.numChannels = 1;
    plugin.dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&mono), &mono);
    plugin.fx->processReplacing(plugin.fx, in, out, 4);
    EXPECT_NEAR(led->getPeak(), 0.5, 1e-6);  // the left side alone, not halved
    plugin.dispatch(effEditClose);
}

TEST(EditorClose, ProcessingAfterCloseWritesNothingAndReopeningShowsTheCurrentValues) {
    Instance plugin;
    plugin.openAndPaint();
    BrackenlumePeakLed* led = plugin.editor()->getPeakLed();
    // Keep the LED object alive past the close to see whether anything
    // still writes into it.
    led->remember();
    plugin.dispatch(effEditClose);
    EXPECT_EQ(plugin.editor()->getPeakLed(), nullptr);
    EXPECT_EQ(HeadlessWindow::liveCount(), 0);
    led->peakCell()->store(0.0);
    plugin.setParameter(3, 1.0f);
    plugin.process(0.9f);
    EXPECT_EQ(led->getPeak(), 0.0);
    led->forget();

    plugin.setParameter(0, 0.8f);
    plugin.setParameter(1, 1.0f);
    plugin.openAndPaint();
    BrackenlumeOpampGUI* gui = plugin.editor();
    EXPECT_EQ(gui->getGainKnob()->getValue(), 0.8f);
    EXPECT_EQ(gui->getPad1Button()->getValue(), 1.0f);
    EXPECT_EQ(gui->getVolumeText()->getValue(), 1.0f);
    EXPECT_EQ(kvtest::mismatches(plugin, 102, kGainKnob, knobOffset(0.8f)), 0);
    EXPECT_EQ(kvtest::mismatches(plugin, 104, kLed, CPoint(0, 0)), 0);  // starts dark
    // The new LED is metered.
    plugin.process(0.9f);
    EXPECT_GT(gui->getPeakLed()->getPeak(), 1.0);

    // Opening twice without a close leaves one window, not two.
    plugin.openAndPaint();
    EXPECT_EQ(HeadlessWindow::liveCount(), 1);
    plugin.dispatch(effEditClose);
    EXPECT_EQ(HeadlessWindow::liveCount(), 0);
    // Closing again, and idling while closed, do nothing.
    plugin.dispatch(effEditClose);
    plugin.idle();
}

// A host that runs its event loop inside audioMasterIdle may close the
// editor there, from the idle pump of a knob drag, a switch click or a text
// commit: the handler finishes on a frame that is still whole, the drag
// ends, and nothing reaches the host after effEditClose returned.
TEST(EditorClose, HostClosingTheEditorInsideItsIdleCallback) {
    kvtest::TestClock clock{5000};
    Instance plugin;
    auto closeInIdle = [&](const char* gesture, auto act) {
        plugin.openAndPaint();
        HeadlessWindow* window = HeadlessWindow::last();
        plugin.clearEvents();
        clock.now += 1000;  // an idle pass is due
        int closes = 0;
        size_t seenAtClose = 0;
        plugin.onHostCall([&](AEffect* fx, int32_t opcode) {
            if (opcode != audioMasterIdle || closes++ > 0) return;
            fx->dispatcher(fx, effEditClose, 0, 0, nullptr, 0.f);
            seenAtClose = plugin.events().size();
        });
        act(window);
        plugin.onHostCall(nullptr);
        EXPECT_EQ(closes, 1) << gesture;
        EXPECT_EQ(plugin.events().size(), seenAtClose)
            << gesture << ": the host heard from a closed editor";
        EXPECT_EQ(HeadlessWindow::liveCount(), 0) << gesture;
        EXPECT_EQ(plugin.editor()->getFrame(), nullptr) << gesture;
    };
    closeInIdle("knob drag", [](HeadlessWindow* window) {
        const CPoint c = centre(kGainKnob);
        const CPoint up(c.h, c.v - 40);
        // The button stays down for longer than the drag lasts: only the
        // close can end the loop.
        window->scriptPointer({{c, 1}, {c, 1}, {up, 1}, {up, 1}, {up, 1}, {up, 1}, {up, 1}});
        window->click(c);
    });
    closeInIdle("switch click", [](HeadlessWindow* window) {
        window->scriptPointer({});
        window->setPointer(centre(kPad1), 1);
        window->click(centre(kPad1));
    });
    closeInIdle("text commit", [&](HeadlessWindow*) { ASSERT_TRUE(typeInto(kVolumeText, "-6")); });
    // A click still queued when a drag pumps (the host's idle closes the
    // editor from the click's own pump, inside the outer pump's pass).
    closeInIdle("queued click", [&](HeadlessWindow* window) {
        window->setPointer(centre(kPad2), 1);
        window->postClick(centre(kPad2));
        plugin.editor()->pumpIdle();
    });
    EXPECT_EQ(plugin.getParameter(3), (-6.f + 32.f) * 0.015625f);
    // The editor opens again as usual.
    plugin.openAndPaint();
    EXPECT_EQ(HeadlessWindow::liveCount(), 1);
    plugin.dispatch(effEditClose);
}

TEST(EditorClose, DeletingTheEffectWithTheWindowOpenReleasesTheWindow) {
    {
        Instance plugin;
        plugin.openAndPaint();
        EXPECT_EQ(HeadlessWindow::liveCount(), 1);
    }
    EXPECT_EQ(HeadlessWindow::liveCount(), 0);
}

}  // namespace
