// Two threads store parameters while a third processes: the values are
// shared without locks, so this runs under the thread sanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "vst2/brackenlume_opamp.h"

namespace {

TEST(Threads, ParametersChangeWhileProcessing) {
    BrackenlumeOpamp fx(nullptr);
    fx.setSampleRate(44100.0f);
    AEffect* e = fx.getAeffect();
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    bool finite = true;

    std::thread audio([&] {
        std::vector<float> l(256, 0.5f), r(256, -0.25f), ol(256), orr(256);
        std::vector<double> dl(256, 0.1), dr(256, 0.2), odl(256), odr(256);
        float* in[2] = {l.data(), r.data()};
        float* out[2] = {ol.data(), orr.data()};
        double* din[2] = {dl.data(), dr.data()};
        double* dout[2] = {odl.data(), odr.data()};
        while (!stop.load() || blocks.load() < 200) {
            e->processReplacing(e, in, out, 256);
            e->processDoubleReplacing(e, din, dout, 256);
            for (float v : ol)
                finite = finite && std::isfinite(v);
            for (double v : odr)
                finite = finite && std::isfinite(v);
            blocks.fetch_add(1);
        }
    });
    auto setter = [&](int32_t first, unsigned seed) {
        for (int i = 0; i < 20000; ++i) {
            const float v = static_cast<float>((i * seed) % 1000) / 999.0f;
            e->setParameter(e, first, v);
            e->setParameter(e, first + 1, 1.5f - v);
            (void)e->getParameter(e, (first + 2) % 4);
        }
    };
    std::thread a(setter, 0, 7u);
    std::thread b(setter, 2, 13u);
    // The dispatcher's side reads the same values meanwhile.
    char text[9];
    for (int i = 0; i < 2000; ++i)
        e->dispatcher(e, effGetParamDisplay, i % 4, 0, text, 0.0f);
    a.join();
    b.join();
    stop.store(true);
    audio.join();

    EXPECT_TRUE(finite);
    for (int32_t i = 0; i < 4; ++i) {
        const float v = fx.getParameter(i);
        EXPECT_GE(v, 0.0f);
        EXPECT_LE(v, 1.0f);
    }
}

TEST(Threads, WithdrawnPeakIsNeverWrittenAgain) {
    BrackenlumeOpamp fx(nullptr);
    fx.setParameter(3, 1.0f);
    AEffect* e = fx.getAeffect();
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> l(64, 0.9f), r(64, 0.9f), ol(64), orr(64);
        float* in[2] = {l.data(), r.data()};
        float* out[2] = {ol.data(), orr.data()};
        while (!stop.load())
            e->processReplacing(e, in, out, 64);
    });
    for (int round = 0; round < 200; ++round) {
        // A fresh cell each round, as a reopened editor brings a new LED.
        auto* peak = new std::atomic<double>(0.0);
        fx.publishPeak(peak);
        while (peak->load() == 0.0)
            std::this_thread::yield();
        fx.withdrawPeak();
        peak->store(-1.0);
        std::this_thread::yield();
        EXPECT_EQ(peak->load(), -1.0);
        delete peak;  // the sanitizers catch a write after this
    }
    stop.store(true);
    audio.join();
}

}  // namespace
