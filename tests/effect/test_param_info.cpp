// The one description of each parameter: plain and normalised values and
// texts agree with each other for every parameter, whatever the locale's
// spelling of a number.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "dsp/param_info.h"

namespace {

using namespace kv::opamp;

std::string text(const ParamInfo& p, double plain) {
    char buffer[32];
    EXPECT_TRUE(p.textOf(plain, buffer, sizeof buffer));
    return buffer;
}

TEST(ParamInfo, ValuesAndTextsRoundTripForEveryParameter) {
    std::set<std::string> names, symbols;
    for (const ParamInfo& p : kParamInfo) {
        EXPECT_EQ(&p, paramInfo(p.index));
        names.insert(p.name);
        symbols.insert(p.symbol);
        EXPECT_LT(p.minPlain(), p.maxPlain()) << p.name;
        EXPECT_TRUE(p.defaultPlain() >= p.minPlain() && p.defaultPlain() <= p.maxPlain());
        // Every knob position of the panel's drag grid, there and back.
        for (int step = 0; step <= 640; ++step) {
            const float n = static_cast<float>(step) / 640.0f;
            const double plain = p.plainOf(n);
            const auto back = p.normalisedOf(plain);
            ASSERT_TRUE(back.has_value());
            if (p.stepped())
                EXPECT_EQ(padEngaged(*back), padEngaged(n)) << p.name << " " << n;
            else
                EXPECT_EQ(*back, n) << p.name << " " << n;
            const auto typed = p.plainOfText(text(p, plain).c_str());
            ASSERT_TRUE(typed.has_value()) << text(p, plain);
            EXPECT_NEAR(*typed, plain, 0.005) << p.name << " " << text(p, plain);
        }
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(kNumAllParams));
    EXPECT_EQ(symbols.size(), static_cast<size_t>(kNumAllParams));
    EXPECT_EQ(paramInfo(-1), nullptr);
    EXPECT_EQ(paramInfo(kNumAllParams), nullptr);
}

TEST(ParamInfo, TextsReadAsPeopleTypeThemAndRefuseWhatIsNoNumber) {
    const ParamInfo& gain = kParamInfo[kGain];
    const ParamInfo& pad = kParamInfo[kPad1];
    EXPECT_EQ(text(gain, -3.5), "-3.50");
    EXPECT_EQ(text(gain, -0.001), "0.00");
    EXPECT_EQ(text(pad, 1.0), "on");
    EXPECT_EQ(text(pad, 0.0), "off");
    EXPECT_EQ(gain.plainOfText("6,5"), 6.5);
    EXPECT_EQ(gain.plainOfText(" 6 dB"), 6.0);
    EXPECT_EQ(gain.plainOfText("99"), 24.0);
    EXPECT_EQ(gain.plainOfText("-1e30"), -8.0);
    EXPECT_EQ(pad.plainOfText("on"), 1.0);
    EXPECT_EQ(pad.plainOfText("0.7"), 1.0);
    EXPECT_EQ(pad.plainOfText("0.5"), 0.0);
    const ParamInfo& quality = kParamInfo[kQuality];
    EXPECT_EQ(text(quality, 0.0), "Exact");
    EXPECT_EQ(text(quality, 1.0), "Clean");
    EXPECT_EQ(quality.plainOfText("CLEAN"), 1.0);
    EXPECT_EQ(quality.plainOfText("exact"), 0.0);
    EXPECT_EQ(quality.plainOfText("1"), 1.0);
    EXPECT_FALSE(quality.plainOfText("Cleaner").has_value());
    EXPECT_EQ(qualityOf(quality.defaultValue), Quality::kExact);
    for (const char* none : {"", "dB", "-", ",", "on?", "nan", "inf"})
        EXPECT_FALSE(gain.plainOfText(none).has_value()) << none;
    EXPECT_FALSE(gain.plainOfText(nullptr).has_value());
    // A NaN is refused; infinities and values out of range clamp.
    EXPECT_FALSE(gain.normalisedOf(std::nan("")).has_value());
    EXPECT_EQ(gain.normalisedOf(1e300), 1.0f);
    EXPECT_EQ(kParamInfo[kVolume].normalisedOf(-INFINITY), 0.0f);
    char small[3];
    EXPECT_TRUE(gain.textOf(-3.5, small, sizeof small));
    EXPECT_STREQ(small, "-3");
    EXPECT_FALSE(gain.textOf(-3.5, small, 0));
}

}  // namespace
