// The parameter table and the state chunk: defaults, clamping, the bytes
// the host stores and what comes back from it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "vst2/base/aeffeditor.h"
#include "vst2/brackenlume_opamp.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::vector<unsigned char> chunkOf(AudioEffect& fx) {
    void* data = nullptr;
    const int32_t size = fx.getChunk(&data, false);
    const auto* bytes = static_cast<const unsigned char*>(data);
    return std::vector<unsigned char>(bytes, bytes + size);
}

// Little-endian bytes of four floats, built independently of the effect.
std::vector<unsigned char> bytesOf(std::initializer_list<float> values) {
    std::vector<unsigned char> out;
    for (float v : values) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        for (int b = 0; b < 4; ++b)
            out.push_back(static_cast<unsigned char>(bits >> (8 * b)));
    }
    return out;
}

// Records what the effect tells its editor.
class WatchingEditor : public AEffEditor {
  public:
    using AEffEditor::AEffEditor;
    void setParameter(int32_t index, float value) override { seen.push_back({index, value}); }
    std::vector<std::pair<int32_t, float>> seen;
};

TEST(Parameters, NewInstanceHoldsTheDefaults) {
    BrackenlumeOpamp fx(nullptr);
    EXPECT_EQ(fx.getParameter(0), 0.25f);
    EXPECT_EQ(fx.getParameter(1), 0.0f);
    EXPECT_EQ(fx.getParameter(2), 0.0f);
    EXPECT_EQ(fx.getParameter(3), 0.5f);
    const char* names[] = {"Gain", "Pad 1", "Pad 2", "Volume"};
    const char* labels[] = {"dB", "n/y", "n/y", "dB"};
    for (int i = 0; i < 4; ++i) {
        char text[16];
        fx.getParameterName(i, text);
        EXPECT_STREQ(text, names[i]);
        fx.getParameterLabel(i, text);
        EXPECT_STREQ(text, labels[i]);
    }
    char text[16];
    fx.getParameterDisplay(0, text);
    EXPECT_STREQ(text, "0.250000");
    fx.getParameterDisplay(1, text);
    EXPECT_STREQ(text, "0.000000");
}

TEST(Parameters, ValuesAreClampedAndInvalidIndicesIgnored) {
    BrackenlumeOpamp fx(nullptr);
    fx.setParameter(0, 2.0f);
    EXPECT_EQ(fx.getParameter(0), 1.0f);
    fx.setParameter(0, -0.5f);
    EXPECT_EQ(fx.getParameter(0), 0.0f);
    fx.setParameter(2, 0.7f);
    EXPECT_EQ(fx.getParameter(2), 0.7f);
    char text[16];
    fx.getParameterDisplay(2, text);
    EXPECT_STREQ(text, "0.699999");
    fx.setParameter(3, 1.0f);
    fx.getParameterDisplay(3, text);
    EXPECT_STREQ(text, "1.000000");

    const std::vector<unsigned char> before = chunkOf(fx);
    fx.setParameter(4, 0.5f);
    fx.setParameter(-1, 0.5f);
    EXPECT_EQ(chunkOf(fx), before);
    EXPECT_EQ(fx.getParameter(4), 0.0f);
    EXPECT_EQ(fx.getParameter(-1), 0.0f);
}

TEST(Parameters, NaNIsRefusedAndInfinitiesClamp) {
    BrackenlumeOpamp fx(nullptr);
    fx.setParameter(0, kNaN);
    EXPECT_EQ(fx.getParameter(0), 0.25f);
    fx.setParameter(1, kInf);
    EXPECT_EQ(fx.getParameter(1), 1.0f);
    fx.setParameter(1, -kInf);
    EXPECT_EQ(fx.getParameter(1), 0.0f);
    // Through the host's setter in the record, too.
    AEffect* e = fx.getAeffect();
    e->setParameter(e, 3, kNaN);
    EXPECT_EQ(e->getParameter(e, 3), 0.5f);
    // And through a chunk: NaN keeps the old value, the others apply.
    const auto bytes = bytesOf({kNaN, kInf, -kInf, 0.125f});
    fx.setParameter(2, 0.9f);
    fx.setChunk(const_cast<unsigned char*>(bytes.data()), 16, false);
    EXPECT_EQ(fx.getParameter(0), 0.25f);
    EXPECT_EQ(fx.getParameter(1), 1.0f);
    EXPECT_EQ(fx.getParameter(2), 0.0f);
    EXPECT_EQ(fx.getParameter(3), 0.125f);
}

TEST(Chunk, NewInstanceSavesTheDefaultBytes) {
    BrackenlumeOpamp fx(nullptr);
    const std::vector<unsigned char> expected = {0x00, 0x00, 0x80, 0x3E, 0x00, 0x00, 0x00, 0x00,
                                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3F};
    EXPECT_EQ(chunkOf(fx), expected);
    EXPECT_EQ(chunkOf(fx), bytesOf({0.25f, 0.0f, 0.0f, 0.5f}));
}

TEST(Chunk, RoundTripsThroughANewInstance) {
    BrackenlumeOpamp a(nullptr), b(nullptr);
    a.setParameter(0, 0.8f);
    a.setParameter(1, 1.0f);
    a.setParameter(3, 0.3f);
    std::vector<unsigned char> saved = chunkOf(a);
    EXPECT_EQ(b.setChunk(saved.data(), static_cast<int32_t>(saved.size()), true), 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(b.getParameter(i), a.getParameter(i)) << i;
}

TEST(Chunk, SetChunkClampsAndUsesOnlyWhatItHolds) {
    BrackenlumeOpamp fx(nullptr);
    auto big = bytesOf({2.0f, -1.0f, 0.75f, 0.0625f});
    EXPECT_EQ(fx.setChunk(big.data(), 16, false), 0);
    EXPECT_EQ(fx.getParameter(0), 1.0f);
    EXPECT_EQ(fx.getParameter(1), 0.0f);
    EXPECT_EQ(fx.getParameter(2), 0.75f);
    EXPECT_EQ(fx.getParameter(3), 0.0625f);

    // 20 bytes: the first 16 count, the rest is ignored.
    auto longer = bytesOf({0.1f, 0.2f, 0.3f, 0.4f});
    for (int i = 0; i < 4; ++i)
        longer.push_back(0xFF);
    EXPECT_EQ(fx.setChunk(longer.data(), 20, false), 0);
    EXPECT_EQ(fx.getParameter(0), 0.1f);
    EXPECT_EQ(fx.getParameter(3), 0.4f);

    // 7 bytes: one whole value; the half value after it is not read.
    auto shortChunk = bytesOf({0.9f, 0.9f});
    EXPECT_EQ(fx.setChunk(shortChunk.data(), 7, false), 0);
    EXPECT_EQ(fx.getParameter(0), 0.9f);
    EXPECT_EQ(fx.getParameter(1), 0.2f);

    // Nothing, or no data at all, changes nothing.
    const std::vector<unsigned char> before = chunkOf(fx);
    EXPECT_EQ(fx.setChunk(shortChunk.data(), 3, false), 0);
    EXPECT_EQ(fx.setChunk(shortChunk.data(), 0, false), 0);
    EXPECT_EQ(fx.setChunk(shortChunk.data(), -16, false), 0);
    EXPECT_EQ(fx.setChunk(nullptr, 16, false), 0);
    EXPECT_EQ(chunkOf(fx), before);
}

TEST(Chunk, ShortChunkIsNeverReadPastItsSize) {
    BrackenlumeOpamp fx(nullptr);
    // The chunk sits at the very end of its allocation, so a read past the
    // 8 bytes would run into the address sanitizer's red zone.
    auto* exact = new unsigned char[8];
    const auto bytes = bytesOf({0.6f, 0.7f});
    std::memcpy(exact, bytes.data(), 8);
    fx.setChunk(exact, 8, false);
    delete[] exact;
    EXPECT_EQ(fx.getParameter(0), 0.6f);
    EXPECT_EQ(fx.getParameter(1), 0.7f);
    EXPECT_EQ(fx.getParameter(2), 0.0f);
    EXPECT_EQ(fx.getParameter(3), 0.5f);
}

TEST(Parameters, EditorHearsEveryStoredValueButNotTheRefusedOnes) {
    BrackenlumeOpamp fx(nullptr);
    auto* editor = new WatchingEditor(&fx);
    fx.setEditor(editor);
    fx.setParameter(0, 3.0f);
    fx.setParameter(9, 0.1f);
    fx.setParameter(1, kNaN);
    ASSERT_EQ(editor->seen.size(), 1u);
    EXPECT_EQ(editor->seen[0], std::make_pair(0, 1.0f));  // the stored value
    auto bytes = bytesOf({0.5f, -3.0f, 0.25f, 0.125f});
    fx.setChunk(bytes.data(), 16, false);
    ASSERT_EQ(editor->seen.size(), 5u);
    EXPECT_EQ(editor->seen[2], std::make_pair(1, 0.0f));
    EXPECT_EQ(editor->seen[4], std::make_pair(3, 0.125f));
}

// The editor is deleted with the effect; while it is torn down it may
// still read the effect's values.
class ReadingEditor : public AEffEditor {
  public:
    ReadingEditor(AudioEffect* fx, float* seen) : AEffEditor(fx), seen_(seen) {}
    ~ReadingEditor() override { *seen_ = effect->getParameter(3); }

  private:
    float* seen_;
};

TEST(Parameters, EditorIsDeletedWhileTheTableStillExists) {
    float seen = -1.0f;
    auto* fx = new BrackenlumeOpamp(nullptr);
    fx->setEditor(new ReadingEditor(fx, &seen));
    fx->setParameter(3, 0.375f);
    delete fx;
    EXPECT_EQ(seen, 0.375f);
}

TEST(Chunk, BufferStaysValidUntilTheNextCall) {
    BrackenlumeOpamp fx(nullptr);
    void* first = nullptr;
    ASSERT_EQ(fx.getChunk(&first, true), 16);
    fx.setParameter(0, 1.0f);
    // The saved chunk is a copy: a later change does not show in it.
    EXPECT_EQ(static_cast<unsigned char*>(first)[3], 0x3E);
    void* second = nullptr;
    ASSERT_EQ(fx.getChunk(&second, true), 16);
    EXPECT_EQ(static_cast<unsigned char*>(second)[3], 0x3F);  // 1.0f = 00 00 80 3F
}

}  // namespace
