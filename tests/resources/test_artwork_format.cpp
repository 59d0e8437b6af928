// Each committed image must have the size and pixel format that the editor's image table
// fixes, and must decode to the channel count the bitmap conversion expects.
#include <gtest/gtest.h>

#include "png_chunks.h"

namespace kvtest {
namespace {

struct Expected {
    int number;
    uint32_t width, height;
    int colourType;     // 3 palette, 6 RGBA
    bool transparency;  // a tRNS chunk (palette alpha)
    int decodedChannels;
};

constexpr Expected kTable[] = {
    {101, 240, 400, 3, false, 3},  // the panel, opaque
    {102, 80, 7760, 3, true, 4},   // 97 knob images of 80 x 80
    {103, 40, 60, 6, false, 4},    // two switch images of 40 x 30
    {104, 28, 56, 6, false, 4},    // two LED images of 28 x 28
    // The same images at two pixels a unit, for dense screens.
    {1101, 480, 800, 3, false, 3},
    {1102, 160, 15520, 3, true, 4},
    {1103, 80, 120, 6, false, 4},
    {1104, 56, 112, 6, false, 4},
};

class ArtworkFormat : public ::testing::TestWithParam<Expected> {};

TEST_P(ArtworkFormat, FileIsAWellFormedPngOfTheTableSizeAndFormat) {
    const Expected e = GetParam();
    const std::vector<uint8_t> bytes = readFile(resourcePath(e.number));
    ASSERT_FALSE(bytes.empty()) << resourcePath(e.number);

    const PngInfo info = readPngInfo(bytes);
    ASSERT_TRUE(info.signatureOk);
    EXPECT_TRUE(info.complete) << "chunks run past the end, or IEND is missing or not last";
    ASSERT_FALSE(info.chunks.empty());
    EXPECT_EQ(info.chunks.front().type, "IHDR");
    EXPECT_TRUE(info.has("IDAT"));
    for (const PngChunk& c : info.chunks)
        EXPECT_TRUE(c.crcOk) << "bad CRC in " << c.type;

    EXPECT_EQ(info.width, e.width);
    EXPECT_EQ(info.height, e.height);
    EXPECT_EQ(info.bitDepth, 8);
    EXPECT_EQ(info.colourType, e.colourType);
    EXPECT_EQ(info.has("tRNS"), e.transparency);
    if (e.colourType == 3) {
        EXPECT_TRUE(info.has("PLTE"));
        EXPECT_GE(info.paletteEntries, 2u);
        EXPECT_LE(info.paletteEntries, 256u);
        // One alpha value per palette entry at most; more is an invalid file.
        EXPECT_LE(info.transparencyEntries, info.paletteEntries);
    }

    const Decoded d = decodePng(bytes);
    ASSERT_FALSE(d.pixels.empty()) << "the decoder rejects " << e.number << ".png";
    EXPECT_EQ(uint32_t(d.width), e.width);
    EXPECT_EQ(uint32_t(d.height), e.height);
    EXPECT_EQ(d.channels, e.decodedChannels);
}

INSTANTIATE_TEST_SUITE_P(Resources, ArtworkFormat, ::testing::ValuesIn(kTable),
                         [](const auto& p) { return "image" + std::to_string(p.param.number); });

TEST(PngReader, RejectsDamagedFiles) {
    std::vector<uint8_t> bytes = readFile(resourcePath(103));
    ASSERT_GT(bytes.size(), 40u);
    ASSERT_TRUE(readPngInfo(bytes).complete);

    std::vector<uint8_t> flipped = bytes;
    flipped[20] ^= 0x01;  // inside IHDR's data: its CRC no longer matches
    EXPECT_FALSE(readPngInfo(flipped).chunks.front().crcOk);

    std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 20);
    EXPECT_FALSE(readPngInfo(cut).complete);

    std::vector<uint8_t> notPng = bytes;
    notPng[1] = 'Q';
    EXPECT_FALSE(readPngInfo(notPng).signatureOk);
}

}  // namespace
}  // namespace kvtest
