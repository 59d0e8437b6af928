// The editor window opened and closed again and again on the user-interface
// thread while an audio thread processes loud blocks without pause and a
// third thread sets parameters, as hosts do. Run under ThreadSanitizer this
// shows the hand-over of the LED and the controls to be free of races; in
// any build a write to a destroyed LED or control would crash or be caught.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "editor_test_support.h"
#include "panel/brackenlume_peak_led.h"
#include "platform/headless/headless_window.h"
#include "vstgui/cframe.h"

namespace {

// Every open decodes the panel's images; under the sanitizers that takes
// far longer (seconds a round with ThreadSanitizer on a busy machine), so
// those runs open fewer times (they still see every access of each round).
#if defined(__SANITIZE_THREAD__)
constexpr int32_t kRounds = 25;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int32_t kRounds = 100;
#else
constexpr int32_t kRounds = 500;
#endif

TEST(EditorThreads, OpeningAndClosingWhileProcessingAndSettingParameters) {
    kvtest::Instance plugin;
    ASSERT_NE(plugin.fx, nullptr);
    plugin.setParameter(3, 1.0f);  // +32 dB: every block holds overs
    std::atomic<bool> stop{false};
    std::atomic<int64_t> blocks{0}, sets{0};

    std::thread audio([&] {
        std::vector<float> left(128), right(128);
        float* buffers[2] = {left.data(), right.data()};
        float phase = 0.f;
        while (!stop.load(std::memory_order_relaxed)) {
            for (size_t i = 0; i < left.size(); ++i) {
                phase += 0.05f;
                left[i] = right[i] = (i % 2 ? 0.8f : -0.8f) + 0.01f * phase;
            }
            plugin.fx->processReplacing(plugin.fx, buffers, buffers, 128);
            blocks.fetch_add(1, std::memory_order_relaxed);
        }
    });
    std::thread automation([&] {
        int32_t n = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            const int32_t index = n % 3;  // gain and the pads; volume stays loud
            plugin.setParameter(index, static_cast<float>(n % 17) / 16.f);
            ++n;
            sets.fetch_add(1, std::memory_order_relaxed);
            if (n % 64 == 0) std::this_thread::yield();
        }
    });

    int32_t metered = 0;
    for (int32_t round = 0; round < kRounds; ++round) {
        plugin.openAndPaint();
        BrackenlumePeakLed* led = plugin.editor()->getPeakLed();
        ASSERT_NE(led, nullptr);
        // Give the audio thread a moment to meter into this LED.
        for (int32_t spin = 0; spin < 200 && led->getPeak() <= 1.0; ++spin)
            std::this_thread::yield();
        if (led->getPeak() > 1.0) ++metered;
        plugin.idle();
        plugin.dispatch(effEditClose);
        ASSERT_EQ(VSTGUI::platform::HeadlessWindow::liveCount(), 0);
    }
    stop.store(true);
    audio.join();
    automation.join();

    EXPECT_GT(blocks.load(), 0);
    EXPECT_GT(sets.load(), 0);
    EXPECT_GT(metered, 0) << "no open panel ever received a peak";
    // After the last close the audio thread still runs blocks safely.
    plugin.process(0.9f);
}

}  // namespace

namespace {

// Two hosts' user-interface threads, each opening panels: every open sets
// the toolkit's knob mode, which both frames read.
TEST(EditorThreads, PanelsOpenedOnTwoThreadsShareTheKnobModeWithoutARace) {
    std::atomic<bool> go{false};
    auto uiThread = [&go](int32_t mode) {
        while (!go.load())
            std::this_thread::yield();
        for (int i = 0; i < 20000; ++i) {
            VSTGUI::setToolkitKnobMode(mode);
            EXPECT_GE(VSTGUI::getToolkitKnobMode(), 0);
        }
    };
    std::thread a(uiThread, 2), b(uiThread, 2);
    go = true;
    a.join();
    b.join();
    EXPECT_EQ(VSTGUI::getToolkitKnobMode(), 2);
}

}  // namespace
