// kv23 as a user runs it: the info command, processing files of the usual
// shapes and sample types, the demo, and the failures that must end with one
// clear line and no output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/cli_support.h"
#include "tests/integration/reference_model.h"

namespace fs = std::filesystem;
using kvtest::Audio;
using kvtest::RunResult;

namespace {

class Kv23 : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kv23-cli-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    RunResult kv23(std::vector<std::string> args, bool withPlugin = true) {
        if (withPlugin) {
            args.push_back("--plugin");
            args.push_back(KV_PLUGIN_PATH);
        }
        return kvtest::runProgram(KV23_BINARY, args, dir_);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

// Two channels with different content: tones, a little noise, a step.
Audio makeInput(int channels, int format, int rate, double seconds) {
    Audio a;
    a.rate = rate;
    a.channels = channels;
    a.format = format;
    const long n = static_cast<long>(seconds * rate);
    unsigned seed = 12345;
    for (long i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        seed = seed * 1103515245u + 12345u;
        const double noise = ((seed >> 16) & 0x7FFF) / 32768.0 - 0.5;
        a.samples.push_back(static_cast<float>(0.4 * std::sin(2 * M_PI * 440 * t) + 0.05 * noise +
                                               (t > 0.3 ? 0.1 : 0.0)));
        if (channels == 2)
            a.samples.push_back(static_cast<float>(0.3 * std::sin(2 * M_PI * 97 * t)));
    }
    return a;
}

// What the plug-in should make of `in` (as read back from its file), by the
// independent model, in blocks of `block` frames. Mono input feeds both
// inputs and keeps the left output.
Audio expectedOutput(const Audio& in, const float settings[4], double pluginRate, long block) {
    kvtest::ReferenceOpamp model;
    model.setSampleRate(pluginRate);
    model.gain = settings[0], model.pad1 = settings[1], model.pad2 = settings[2];
    model.volume = settings[3];
    Audio out = in;
    const long n = in.frames();
    std::vector<double> l(n), r(n);
    for (long i = 0; i < n; ++i) {
        l[i] = in.samples[i * in.channels];
        r[i] = in.samples[i * in.channels + (in.channels > 1 ? 1 : 0)];
    }
    for (long at = 0; at < n; at += block) {
        const long len = std::min(block, n - at);
        model.process(l.data() + at, r.data() + at, l.data() + at, r.data() + at, len);
    }
    for (long i = 0; i < n; ++i) {
        out.samples[i * in.channels] = static_cast<float>(l[i]);
        if (in.channels > 1) out.samples[i * in.channels + 1] = static_cast<float>(r[i]);
    }
    return out;
}

// The largest difference between two files' samples, or infinity when their
// shapes differ.
double worstDifference(const Audio& a, const Audio& b) {
    if (a.channels != b.channels || a.samples.size() != b.samples.size()) return INFINITY;
    double worst = 0.0;
    for (size_t i = 0; i < a.samples.size(); ++i) {
        worst = std::max(worst, std::fabs(static_cast<double>(a.samples[i]) - b.samples[i]));
    }
    return worst;
}

TEST_F(Kv23, HelpListsTheCommandsAndEachCommandExplainsItself) {
    RunResult r = kv23({"--help"}, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("info"), std::string::npos);
    EXPECT_NE(r.out.find("process"), std::string::npos);
    r = kv23({"process", "--help"}, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--demo"), std::string::npos);
    EXPECT_NE(r.out.find("above full scale"), std::string::npos);
    r = kv23({"info", "--help"}, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("state chunk"), std::string::npos);
    r = kv23({"frobnicate"}, false);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown command"), std::string::npos);
    r = kv23({"--version"}, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "kv23 (KV23-T ZuDiz) " KV_PROJECT_VERSION "\n");
}

TEST_F(Kv23, InfoShowsIdentityFlagsParametersAndChunk) {
    const RunResult r = kv23({"info"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* expected :
         {"Effect name     KV23-T ZuDiz", "Vendor          Harrow Quill",
          "Product         KV23-T ZuDiz", "Vendor version  1110", "VST version     2400",
          "Category        1 (effect)", "Unique ID       0x4B563233 'KV23'",
          "CanReplacing, ProgramChunks, CanDoubleReplacing", "Inputs          2",
          "Outputs         2", "Parameters      4", "Gain      0.250000  0.250000  dB",
          "Editor scale    accepts the host's factor", "Pad 2     0.000000  0.000000  n/y",
          "Volume    0.500000  0.500000  dB",
          "16 bytes: 00 00 80 3e 00 00 00 00 00 00 00 00 00 00 00 3f"}) {
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
    }
    // Without --plugin, $KV23_PLUGIN names the file.
    const RunResult viaEnv = kvtest::runProgram(KV23_BINARY, {"info"}, dir_,
                                                {std::string("KV23_PLUGIN=") + KV_PLUGIN_PATH});
    EXPECT_EQ(viaEnv.status, 0) << viaEnv.err;
    EXPECT_EQ(viaEnv.out, r.out);
}

TEST_F(Kv23, ProcessMatchesTheModelForMonoStereoFloatAnd16Bit) {
    struct Case {
        int channels;
        int format;
        double tolerance;  // float rounding, or half a 16-bit step plus the step
    };
    const Case cases[] = {
        {2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0.0},
        {1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0.0},
        {2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.5 / 32768.0},
        {1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.5 / 32768.0},
    };
    const float settings[4] = {(6.0f + 8.0f) / 32.0f, 1.0f, 0.0f, (-9.0f + 32.0f) / 64.0f};
    for (const Case& c : cases) {
        SCOPED_TRACE("channels " + std::to_string(c.channels) + " format " +
                     std::to_string(c.format));
        ASSERT_TRUE(
            kvtest::writeAudio(path("in.wav"), makeInput(c.channels, c.format, 44100, 0.5)));
        const RunResult r = kv23({"process", path("in.wav"), path("out.wav"), "--gain", "6",
                                  "--volume", "-9", "--pad1", "--block", "256"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const Audio in = kvtest::readAudio(path("in.wav"));
        const Audio out = kvtest::readAudio(path("out.wav"));
        EXPECT_EQ(out.rate, 44100);
        EXPECT_EQ(out.channels, c.channels);
        EXPECT_EQ(out.format, c.format) << "float stays float, 16-bit stays 16-bit";
        const Audio expected = expectedOutput(in, settings, 44100.0, 256);
        ASSERT_EQ(out.samples.size(), expected.samples.size());
        for (size_t i = 0; i < out.samples.size(); ++i) {
            if (c.tolerance == 0.0) {
                ASSERT_TRUE(kvtest::closeAsFloat(out.samples[i], expected.samples[i]))
                    << "sample " << i << ": " << out.samples[i] << " vs " << expected.samples[i];
            } else {
                // Integer files clip at full scale instead of wrapping around.
                const double clipped =
                    std::clamp(static_cast<double>(expected.samples[i]), -1.0, 32767.0 / 32768.0);
                ASSERT_NEAR(out.samples[i], clipped, c.tolerance) << "sample " << i;
            }
        }
        fs::remove(path("out.wav"));
    }
}

TEST_F(Kv23, DoubleBlockSizeAndRateOptionsChangeOnlyWhatTheyShould) {
    ASSERT_TRUE(kvtest::writeAudio(path("in.wav"),
                                   makeInput(2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 0.4)));
    const std::vector<std::string> settings = {"--param", "0=0.9", "--param", "3=0.3", "--pad2"};
    auto render = [&](const std::string& name, std::vector<std::string> extra) {
        std::vector<std::string> args = {"process", path("in.wav"), path(name)};
        args.insert(args.end(), settings.begin(), settings.end());
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = kv23(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return kvtest::readAudio(path(name));
    };
    const Audio base = render("base.wav", {});
    const Audio dbl = render("double.wav", {"--double"});
    const Audio one = render("block1.wav", {"--block", "1"});
    const Audio odd = render("block997.wav", {"--block", "997"});
    const Audio at44 = render("rate44.wav", {"--rate", "44100"});
    ASSERT_EQ(base.frames(), 19200);

    // 64-bit processing rounds once at the end instead of at the output of
    // the plug-in: the same samples within float rounding.
    EXPECT_LT(worstDifference(base, dbl), 1e-6);
    // The block size only moves the alternating tiny offset; the sound is
    // the same within float rounding.
    EXPECT_LT(worstDifference(base, one), 1e-6);
    EXPECT_LT(worstDifference(base, odd), 1e-6);
    // --rate tells the plug-in another rate (another filter) but the file
    // keeps its own.
    EXPECT_EQ(at44.rate, 48000);
    const float values[4] = {0.9f, 0.0f, 1.0f, 0.3f};
    const Audio in = kvtest::readAudio(path("in.wav"));
    EXPECT_LT(worstDifference(at44, expectedOutput(in, values, 44100.0, 512)), 1e-5);
    EXPECT_GT(worstDifference(at44, base), 1e-4) << "the filter must follow --rate";
}

TEST_F(Kv23, DemoRendersSweepDriveAndAnOverWithoutAnInputFile) {
    RunResult r = kv23({"process", "--demo", path("demo.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio demo = kvtest::readAudio(path("demo.wav"));
    EXPECT_EQ(demo.rate, 48000);
    EXPECT_EQ(demo.channels, 2);
    EXPECT_EQ(demo.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT) << "the over must survive";
    ASSERT_EQ(demo.frames(), 6 * 48000);
    auto peak = [&](double from, double to) {
        float p = 0.0f;
        for (long i = static_cast<long>(from * 48000) * 2; i < static_cast<long>(to * 48000) * 2;
             ++i) {
            p = std::max(p, std::fabs(demo.samples[i]));
        }
        return p;
    };
    EXPECT_GT(peak(0.0, 2.0), 0.1f);
    EXPECT_LT(peak(0.0, 5.0), 1.0f) << "only the burst goes over";
    EXPECT_GT(peak(5.0, 5.5), 1.0f) << "the burst goes above full scale";
    EXPECT_LT(peak(5.9, 6.0), 0.01f) << "the tail dies away";

    // The demo's settings change on a fixed grid, so the block size does not
    // change the result.
    r = kv23({"process", "--demo", path("demo100.wav"), "--block", "100"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_LT(worstDifference(demo, kvtest::readAudio(path("demo100.wav"))), 1e-6);
}

}  // namespace
