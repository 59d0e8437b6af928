// The LV2 processing binary through its C entry point, as a host loads it:
// dlopen, lv2_descriptor, instantiate, connect, run.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "lv2/lv2_ports.h"

namespace {

using namespace kv::lv2;

class Lv2Dsp : public ::testing::Test {
  protected:
    void SetUp() override {
        library_ = dlopen(KV_LV2_DSP_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        auto entry = reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(
            dlsym(library_, "lv2_descriptor"));
        ASSERT_NE(entry, nullptr);
        descriptor_ = entry(0);
        ASSERT_NE(descriptor_, nullptr);
        EXPECT_EQ(entry(1), nullptr);
    }
    void TearDown() override {
        if (instance_) descriptor_->cleanup(instance_);
        if (library_) dlclose(library_);
    }

    // An instance at `rate` with every port connected to this fixture.
    void make(double rate = 48000.0) {
        instance_ = descriptor_->instantiate(descriptor_, rate, "/nowhere/", nullptr);
        ASSERT_NE(instance_, nullptr);
        for (uint32_t p = 0; p < 4; ++p)
            descriptor_->connect_port(instance_, p, audio_[p].data());
        descriptor_->connect_port(instance_, kPortGain, &gain_);
        descriptor_->connect_port(instance_, kPortPad1, &pad1_);
        descriptor_->connect_port(instance_, kPortPad2, &pad2_);
        descriptor_->connect_port(instance_, kPortVolume, &volume_);
        descriptor_->connect_port(instance_, kPortPeak, &peak_);
        descriptor_->connect_port(instance_, kPortQuality, &quality_);
        descriptor_->connect_port(instance_, kPortLatency, &latency_);
    }
    // Runs `frames` of a constant input level on both channels.
    void run(float level, uint32_t frames) {
        for (uint32_t i = 0; i < frames; ++i)
            audio_[0][i] = audio_[1][i] = level;
        descriptor_->run(instance_, frames);
    }

    void* library_ = nullptr;
    const LV2_Descriptor* descriptor_ = nullptr;
    LV2_Handle instance_ = nullptr;
    std::vector<float> audio_[4] = {std::vector<float>(4800), std::vector<float>(4800),
                                    std::vector<float>(4800), std::vector<float>(4800)};
    float gain_ = 0.0f, pad1_ = 0.0f, pad2_ = 0.0f, volume_ = 0.0f, peak_ = -1.0f;
    float quality_ = 0.0f, latency_ = -1.0f;
};

TEST_F(Lv2Dsp, IdentifiesItselfByItsUri) {
    EXPECT_STREQ(descriptor_->URI, "urn:harrowquill:kv23-t-zudiz");
    EXPECT_EQ(descriptor_->extension_data, nullptr);
}

TEST_F(Lv2Dsp, RefusesSampleRatesTheHighPassCannotRunAt) {
    for (double rate : {0.0, -48000.0, 30.0, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(descriptor_->instantiate(descriptor_, rate, "/nowhere/", nullptr), nullptr)
            << rate;
    }
}

TEST_F(Lv2Dsp, PeakPortHoldsAnOverloadForATenthOfASecond) {
    make(48000.0);
    volume_ = 12.0f;
    run(0.9f, 64);  // 0.9 at +12 dB: well over full scale
    EXPECT_GT(peak_, 1.0f);
    // Quiet blocks: the over stays on the port for 4800 frames, then goes.
    uint32_t quietFrames = 0;
    while (peak_ > 1.0f && quietFrames < 48000) {
        run(0.0f, 480);
        quietFrames += 480;
    }
    EXPECT_GE(quietFrames, 4800u - 480u);
    EXPECT_LE(quietFrames, 4800u + 480u);
    EXPECT_LT(peak_, 1.0f);
}

TEST_F(Lv2Dsp, PeakPortShowsTheLouderChannelAndHoldsEachOverloadItsOwnTenth) {
    make(48000.0);
    volume_ = 12.0f;
    // Left loud, right silent: the port shows the left level, not the mean.
    for (uint32_t i = 0; i < 64; ++i) {
        audio_[0][i] = 0.5f;
        audio_[1][i] = 0.0f;
    }
    descriptor_->run(instance_, 64);
    float left = 0.0f;
    for (uint32_t i = 0; i < 64; ++i)
        left = std::max(left, std::fabs(audio_[2][i]));
    EXPECT_GT(left, 1.0f);
    EXPECT_NEAR(peak_, left, 1e-5f);

    // A strong overload, then 50 ms later a weaker one: the weaker one stands
    // for its own 0.1 s, not for what was left of the stronger one's.
    descriptor_->activate(instance_);
    run(0.9f, 64);
    const float strong = peak_;
    run(0.0f, 2400);
    volume_ = 6.0f;
    run(0.9f, 64);
    float weak = 0.0f;
    for (uint32_t i = 0; i < 64; ++i)
        weak = std::max({weak, std::fabs(audio_[2][i]), std::fabs(audio_[3][i])});
    EXPECT_GT(weak, 1.0f);
    EXPECT_LT(weak, strong);
    for (uint32_t quiet = 0; quiet < 4320; quiet += 480) {
        run(0.0f, 480);
        EXPECT_GE(peak_, weak) << quiet << " frames after the weaker overload";
    }
}

TEST_F(Lv2Dsp, ActivationStartsFromSilenceAfterAStoppedTone) {
    make(48000.0);
    ASSERT_NE(descriptor_->activate, nullptr);
    descriptor_->activate(instance_);
    gain_ = 24.0f;
    // A low tone, stopped at its crest: the filter's memory holds it.
    for (uint32_t i = 0; i < 4800; ++i)
        audio_[0][i] = audio_[1][i] = 0.9f * std::sin(2.0 * M_PI * 30.0 * (i + 400) / 48000.0);
    descriptor_->run(instance_, 4800);
    if (descriptor_->deactivate) descriptor_->deactivate(instance_);
    descriptor_->activate(instance_);
    run(0.0f, 480);
    float loudest = 0.0f;
    for (uint32_t i = 0; i < 480; ++i)
        loudest = std::max({loudest, std::fabs(audio_[2][i]), std::fabs(audio_[3][i])});
    EXPECT_LT(loudest, 1e-6f) << "the stopped tone's tail came back";
}

// Clean is Exact late by exactly what the latency port says (a null test:
// one sample either way does not cancel); Exact says 0.
TEST_F(Lv2Dsp, CleanIsLateByExactlyTheLatencyItsPortReports) {
    auto left = [&](float quality, float& latency) {
        if (instance_) descriptor_->cleanup(instance_);
        make(48000.0);
        gain_ = 24.0f;
        pad1_ = 1.0f;
        quality_ = quality;
        std::vector<double> out;
        for (uint32_t block = 0; block < 40; ++block) {
            for (uint32_t i = 0; i < 512; ++i)
                audio_[0][i] = audio_[1][i] = static_cast<float>(
                    0.5 * std::sin(2 * M_PI * 120.0 * (block * 512 + i) / 48000.0));
            descriptor_->run(instance_, 512);
            out.insert(out.end(), audio_[2].begin(), audio_[2].begin() + 512);
        }
        latency = latency_;
        return out;
    };
    float exactLatency = -1.0f, cleanLatency = -1.0f;
    const std::vector<double> e = left(0.0f, exactLatency), c = left(1.0f, cleanLatency);
    EXPECT_EQ(exactLatency, 0.0f);
    ASSERT_GT(cleanLatency, 0.0f);
    const auto lag = static_cast<size_t>(cleanLatency);
    EXPECT_EQ(static_cast<float>(lag), cleanLatency) << "a whole number of samples";
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
}

TEST_F(Lv2Dsp, ControlValuesFollowTheValueRule) {
    // Each setting on a fresh instance: the last output sample of a block at
    // 0 dB, then of a second block at `gainDb`. A NaN keeps the value before
    // it; decibels out of range clamp to the end of the range.
    auto outputFor = [&](float gainDb) {
        if (instance_) descriptor_->cleanup(instance_);
        make();
        gain_ = 0.0f;
        run(0.25f, 256);
        gain_ = gainDb;
        run(0.25f, 256);
        return audio_[2][255];
    };
    EXPECT_EQ(outputFor(std::numeric_limits<float>::quiet_NaN()), outputFor(0.0f));
    EXPECT_EQ(outputFor(1000.0f), outputFor(24.0f));
    EXPECT_EQ(outputFor(-std::numeric_limits<float>::infinity()), outputFor(-8.0f));
    EXPECT_NE(outputFor(-8.0f), outputFor(0.0f));
}

TEST_F(Lv2Dsp, UnconnectedPortsNeitherCrashNorWrite) {
    instance_ = descriptor_->instantiate(descriptor_, 44100.0, "/nowhere/", nullptr);
    ASSERT_NE(instance_, nullptr);
    descriptor_->run(instance_, 64);  // nothing connected at all
    descriptor_->connect_port(instance_, kPortInLeft, audio_[0].data());
    descriptor_->connect_port(instance_, kPortOutLeft, audio_[2].data());
    audio_[2].assign(audio_[2].size(), 7.0f);
    descriptor_->run(instance_, 64);
    EXPECT_EQ(audio_[2][0], 7.0f);
    descriptor_->connect_port(instance_, kPortCount + 3, &gain_);  // an index we do not have
}

}  // namespace
