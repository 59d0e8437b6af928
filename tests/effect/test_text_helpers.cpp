// Number-to-text helpers: truncated digits, fixed widths and their limits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vst2/brackenlume_opamp.h"

namespace {

class TextHelpers : public ::testing::Test {
  protected:
    BrackenlumeOpamp fx_{nullptr};

    std::string f2s(float v, int32_t maxLen = 8) {
        return call(&AudioEffect::float2string, v, maxLen);
    }
    std::string i2s(int32_t v, int32_t maxLen = 8) {
        char text[40];
        std::memset(text, '#', sizeof(text));
        fx_.int2string(v, text, maxLen);
        EXPECT_EQ(text[maxLen], 0);
        EXPECT_EQ(text[maxLen + 1], '#');
        return text;
    }
    std::string call(void (AudioEffect::*helper)(float, char*, int32_t), float v,
                     int32_t maxLen = 8) {
        char text[40];
        std::memset(text, '#', sizeof(text));
        (fx_.*helper)(v, text, maxLen);
        // Never more than maxLen characters, a zero at maxLen, nothing after.
        EXPECT_EQ(text[maxLen], 0);
        EXPECT_EQ(text[maxLen + 1], '#');
        return text;
    }
};

TEST_F(TextHelpers, FloatTextIsTruncatedToEightCharacters) {
    EXPECT_EQ(f2s(0.25f), "0.250000");
    EXPECT_EQ(f2s(1.0f), "1.000000");
    EXPECT_EQ(f2s(0.7f), "0.699999");  // 0.7f is 0.69999998...
    EXPECT_EQ(f2s(123.456f), "123.4560");
    EXPECT_EQ(f2s(-1.5f), "-1.50000");
    EXPECT_EQ(f2s(1234567.0f), "1234567.");
    EXPECT_EQ(f2s(-123456.0f), "-123456.");
    EXPECT_EQ(f2s(1e-7f), "0.000000");
    EXPECT_EQ(f2s(0.0f), "0.000000");
    EXPECT_EQ(f2s(-0.0f), "0.000000");
    EXPECT_EQ(f2s(99.999f), "99.99900");  // 99.99900054...f
    EXPECT_EQ(f2s(-0.5f), "-0.50000");
}

TEST_F(TextHelpers, FloatTextTooLargeSaysHuge) {
    EXPECT_EQ(f2s(1e8f), "Huge!");
    EXPECT_EQ(f2s(-1e7f), "Huge!");
    EXPECT_EQ(f2s(99999999.0f * 2.0f), "Huge!");
    EXPECT_EQ(f2s(std::numeric_limits<float>::infinity()), "Huge!");
    EXPECT_EQ(f2s(std::numeric_limits<float>::quiet_NaN()), "Huge!");
    // Just below the bounds the whole integer part is shown, never a wrong
    // lowest-digits remainder.
    EXPECT_EQ(f2s(12345678.0f), "12345678");
    EXPECT_EQ(f2s(-9999999.0f), "-9999999");
}

TEST_F(TextHelpers, FloatTextHonoursShorterAndLongerLimits) {
    EXPECT_EQ(f2s(0.25f, 3), "0.2");
    EXPECT_EQ(f2s(1e8f, 2), "Hu");
    EXPECT_EQ(f2s(0.25f, 0), "");
    EXPECT_EQ(f2s(0.25f, 20), "0.250000");
}

TEST_F(TextHelpers, IntegerText) {
    EXPECT_EQ(i2s(0), "0");
    EXPECT_EQ(i2s(-42), "-42");
    EXPECT_EQ(i2s(7), "7");
    EXPECT_EQ(i2s(1000), "1000");
    EXPECT_EQ(i2s(99999999), "99999999");
    EXPECT_EQ(i2s(100000000), "Huge!");
    EXPECT_EQ(i2s(-12345678, 9), "-12345678");
    EXPECT_EQ(i2s(-12345678, 4), "-123");
    EXPECT_EQ(i2s(-2147483647 - 1, 11), "-2147483648");
}

TEST_F(TextHelpers, DecibelText) {
    EXPECT_EQ(call(&AudioEffect::dB2string, 1.0f), "0.000000");
    EXPECT_EQ(call(&AudioEffect::dB2string, 0.0f), "-oo");
    EXPECT_EQ(call(&AudioEffect::dB2string, -1.0f), "-oo");
    EXPECT_EQ(call(&AudioEffect::dB2string, 10.0f), "20.00000");
    EXPECT_EQ(call(&AudioEffect::dB2string, 0.5f), "-6.02060");
}

TEST_F(TextHelpers, FrequencyAndTimeTextUseTheSampleRate) {
    EXPECT_EQ(call(&AudioEffect::Hz2string, 0.0f), "0.000000");
    EXPECT_EQ(call(&AudioEffect::Hz2string, 441.0f), "100.0000");
    EXPECT_EQ(call(&AudioEffect::ms2string, 441.0f), "10.00000");
    fx_.setSampleRate(48000.0f);
    EXPECT_EQ(call(&AudioEffect::Hz2string, 96.0f), "500.0000");
    EXPECT_EQ(call(&AudioEffect::ms2string, 48.0f), "1.000000");
}

TEST(CopyLimited, WritesZerosUpToTheLimit) {
    char text[12];
    std::memset(text, '#', sizeof(text));
    kv::copyLimited(text, "a very long name", 8);
    EXPECT_EQ(std::string(text), "a very l");
    EXPECT_EQ(text[9], '#');
    std::memset(text, '#', sizeof(text));
    kv::copyLimited(text, "ab", 8);
    for (int i = 2; i <= 8; ++i)
        EXPECT_EQ(text[i], 0) << i;
    EXPECT_EQ(text[9], '#');
    kv::copyLimited(nullptr, "ab", 8);  // no crash, nothing written
    std::memset(text, '#', sizeof(text));
    kv::copyLimited(text, nullptr, 3);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(text[4], '#');
}

}  // namespace
