// A palette PNG kept as its colour indices and expanded into a platform
// image a band of rows at a time, when a band is first drawn.
//
// The knob's filmstrip is 97 pictures of which a panel shows two. Decoding
// it whole writes 2.5 MB of pixels plus the decoder's own copies before the
// first frame, and fresh memory is the dearest part of opening an editor.
// Kept as indices it is a quarter of that, written once; the image it fills
// is allocated zeroed, so rows nobody has drawn cost no memory at all.
//
// Only 8-bit, non-interlaced palette images are taken (those the artwork
// generator writes); read() answers null for everything else, and for data
// it cannot make sense of, so that the general decoder has the last word.
// The inflating is the general decoder's (stb_image's zlib); the rows are
// unfiltered here. Expanded pixels are exactly what the general decoder
// and the bitmap's conversion make of the same file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace VSTGUI {

namespace platform {
class Image;
}

class PaletteRows {
  public:
    static constexpr int32_t kBandRows = 16;

    // `lasting`: the bytes stay where they are for as long as the result
    // lives (a resource of the loaded library). Rows stored uncompressed,
    // unfiltered and in whole rows per block are then read where they lie
    // instead of being copied: fresh memory is dear, pages of the library
    // that are already in memory are not.
    static std::unique_ptr<PaletteRows> read(const uint8_t* data, size_t size,
                                             bool lasting = false);

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    // What the general decoder reports: 4 with a transparency chunk, else 3.
    int32_t channels() const { return channels_; }

    // Makes rows top..bottom-1 of `image` hold their premultiplied pixels;
    // rows outside the picture are ignored and rows expanded before are left
    // alone. `image` is always the same one, of this picture's size (the
    // expanded rows are remembered here). Callable from any thread.
    void expand(platform::Image& image, int32_t top, int32_t bottom);
    // Rows expanded so far.
    int32_t expandedRows() const;
    // The rows are read where they lie in the PNG's bytes.
    bool readInPlace() const { return !blocks_.empty(); }

  private:
    PaletteRows() = default;
    bool unfilter();
    bool mapStoredRows(const uint8_t* stream, size_t size);
    // Row y: its filter byte, then its indices.
    const uint8_t* rowBytes(int32_t y) const;

    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t channels_ = 3;
    // Premultiplied blue, green, red, alpha of each index; indices past the
    // palette's end are transparent black.
    uint8_t colours_[256][4] = {};
    // Each row's filter byte, then its indices: inflated here, or in the
    // PNG's stored blocks, each holding rowsPerBlock_ rows.
    std::unique_ptr<uint8_t[]> rows_;
    std::vector<const uint8_t*> blocks_;
    int32_t rowsPerBlock_ = 0;
    std::unique_ptr<std::atomic<bool>[]> bandDone_;
    // Bands expanded so far: once all are, a draw asks one question instead
    // of one a band (the background is drawn at every idle, under the LED).
    std::atomic<int32_t> bandsDone_{0};
    std::mutex expanding_;
};

}  // namespace VSTGUI
