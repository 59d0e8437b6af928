#include "vstgui/palette_rows.h"

#include <stb_image.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "common/idle_path.h"
#include "vstgui/platform/graphics.h"

namespace VSTGUI {

namespace {

uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

constexpr uint32_t chunkType(const char (&name)[5]) {
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
           uint32_t(uint8_t(name[2])) << 8 | uint32_t(uint8_t(name[3]));
}

// The same premultiplication as every other image of the toolkit.
uint8_t premultiply(uint8_t value, uint8_t alpha) {
    return alpha == 255 ? value : static_cast<uint8_t>((value * alpha) >> 8);
}

uint8_t paeth(int left, int up, int upLeft) {
    const int p = left + up - upLeft;
    const int pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - upLeft);
    if (pa <= pb && pa <= pc) return static_cast<uint8_t>(left);
    return static_cast<uint8_t>(pb <= pc ? up : upLeft);
}

// The largest side the general decoder accepts, and its limit on pixels.
constexpr uint32_t kMaxSide = 1u << 24;

}  // namespace

std::unique_ptr<PaletteRows> PaletteRows::read(const uint8_t* data, size_t size, bool lasting) {
    static constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    if (!data || size < 8 || std::memcmp(data, kSignature, 8) != 0) return nullptr;

    std::unique_ptr<PaletteRows> image(new (std::nothrow) PaletteRows);
    if (!image) return nullptr;
    uint8_t rgba[256][4] = {};
    uint32_t paletteSize = 0;
    bool header = false, ended = false, transparency = false;
    // The compressed rows: one IDAT chunk is read where it lies, several
    // are joined.
    const uint8_t* compressed = nullptr;
    size_t compressedSize = 0;
    std::vector<uint8_t> joined;
    try {
        for (size_t at = 8; !ended;) {
            if (size - at < 12) return nullptr;
            const uint32_t length = bigEndian32(data + at);
            const uint32_t type = bigEndian32(data + at + 4);
            if (length > size - at - 12) return nullptr;
            const uint8_t* body = data + at + 8;
            at += size_t{length} + 12;  // length, type, body, CRC
            if (!header && type != chunkType("IHDR")) return nullptr;
            switch (type) {
                case chunkType("IHDR"): {
                    if (header || length != 13) return nullptr;
                    header = true;
                    const uint32_t w = bigEndian32(body), h = bigEndian32(body + 4);
                    // 8-bit palette, deflate, standard filters, not interlaced.
                    if (body[8] != 8 || body[9] != 3 || body[10] || body[11] || body[12])
                        return nullptr;
                    if (w == 0 || h == 0 || w > kMaxSide || h > kMaxSide) return nullptr;
                    if ((1u << 30) / w / 4 < h) return nullptr;
                    image->width_ = static_cast<int32_t>(w);
                    image->height_ = static_cast<int32_t>(h);
                    break;
                }
                case chunkType("PLTE"):
                    if (paletteSize || compressed || length > 768 || length % 3) return nullptr;
                    paletteSize = length / 3;
                    for (uint32_t i = 0; i < paletteSize; ++i) {
                        std::memcpy(rgba[i], body + 3 * i, 3);
                        rgba[i][3] = 255;
                    }
                    break;
                case chunkType("tRNS"):
                    if (!paletteSize || compressed || length > paletteSize) return nullptr;
                    transparency = true;
                    for (uint32_t i = 0; i < length; ++i)
                        rgba[i][3] = body[i];
                    break;
                case chunkType("IDAT"):
                    if (!paletteSize) return nullptr;
                    if (!compressed) {
                        compressed = body;
                        compressedSize = length;
                    } else {
                        if (joined.empty()) joined.assign(compressed, compressed + compressedSize);
                        joined.insert(joined.end(), body, body + length);
                        compressed = joined.data();
                        compressedSize = joined.size();
                    }
                    break;
                case chunkType("IEND"):
                    ended = true;
                    break;
                default:
                    // Ancillary chunks (lower-case first letter) do not
                    // change the pixels; any other is beyond this reader.
                    if (!(type & (1u << 29))) return nullptr;
                    break;
            }
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (!compressed || compressedSize > size_t{INT_MAX}) return nullptr;

    const size_t stride = size_t(image->width_) + 1;
    const size_t total = stride * size_t(image->height_);
    // Deflate makes at most 1032 bytes of one: a header that promises more
    // than the data can hold is not worth allocating for.
    if (total > size_t{INT_MAX} || total / 1032 > compressedSize + 64) return nullptr;
    image->bandDone_.reset(new (std::nothrow)
                               std::atomic<bool>[(image->height_ + kBandRows - 1) / kBandRows] {});
    if (!image->bandDone_) return nullptr;
    bool inPlace = false;
    try {
        inPlace = lasting && joined.empty() && image->mapStoredRows(compressed, compressedSize);
    } catch (const std::bad_alloc&) {
        image->blocks_.clear();
    }
    if (!inPlace) {
        image->rows_.reset(new (std::nothrow) uint8_t[total]);
        if (!image->rows_) return nullptr;
        const int inflated = stbi_zlib_decode_buffer(
            reinterpret_cast<char*>(image->rows_.get()), static_cast<int>(total),
            reinterpret_cast<const char*>(compressed), static_cast<int>(compressedSize));
        if (inflated != static_cast<int>(total) || !image->unfilter()) return nullptr;
    }

    image->channels_ = transparency ? 4 : 3;
    for (uint32_t i = 0; i < paletteSize; ++i) {
        const uint8_t alpha = rgba[i][3];
        image->colours_[i][0] = premultiply(rgba[i][2], alpha);
        image->colours_[i][1] = premultiply(rgba[i][1], alpha);
        image->colours_[i][2] = premultiply(rgba[i][0], alpha);
        image->colours_[i][3] = alpha;
    }
    return image;
}

// Takes the rows where they lie when the zlib stream is nothing but stored
// blocks that each hold the same whole number of rows (the last one fewer),
// and no row is filtered; false leaves the rows to the inflater.
bool PaletteRows::mapStoredRows(const uint8_t* stream, size_t size) {
    const size_t stride = size_t(width_) + 1;
    const size_t total = stride * size_t(height_);
    // zlib header: deflate, no preset dictionary, check bits right.
    if (size < 2 || (stream[0] & 0x0F) != 8 || (stream[1] & 0x20) ||
        (stream[0] * 256 + stream[1]) % 31 != 0)
        return false;
    std::vector<const uint8_t*> blocks;
    size_t rowsPerBlock = 0, covered = 0;
    for (size_t at = 2;;) {
        // A stored block: one header byte (final bit, type 00 and padding),
        // then its length, the length's complement and the bytes.
        if (size - at < 5 || (stream[at] & 0x06) != 0) return false;
        const bool final = (stream[at] & 1) != 0;
        const size_t length = stream[at + 1] | size_t{stream[at + 2]} << 8;
        if ((stream[at + 3] | size_t{stream[at + 4]} << 8) != (length ^ 0xFFFF)) return false;
        if (length > size - at - 5 || length % stride != 0 || covered + length > total)
            return false;
        if (blocks.empty()) rowsPerBlock = length / stride;
        // Every block but the last holds the same number of rows.
        if (length / stride != rowsPerBlock && !(final && length / stride < rowsPerBlock))
            return false;
        blocks.push_back(stream + at + 5);
        covered += length;
        at += 5 + length;
        if (final) break;
    }
    if (covered != total || rowsPerBlock == 0) return false;
    blocks_ = std::move(blocks);
    rowsPerBlock_ = static_cast<int32_t>(rowsPerBlock);
    for (int32_t y = 0; y < height_; ++y) {
        if (rowBytes(y)[0] != 0) {
            blocks_.clear();
            return false;
        }
    }
    return true;
}

const uint8_t* PaletteRows::rowBytes(int32_t y) const {
    const size_t stride = size_t(width_) + 1;
    if (!blocks_.empty())
        return blocks_[size_t(y / rowsPerBlock_)] + stride * size_t(y % rowsPerBlock_);
    return rows_.get() + stride * size_t(y);
}

// Undoes the row filters in place: each row's indices become the filtered
// bytes plus the prediction from the pixel to the left and the one above
// (one byte a pixel; the row above the first is zeros).
bool PaletteRows::unfilter() {
    const size_t stride = size_t(width_) + 1;
    for (int32_t y = 0; y < height_; ++y) {
        uint8_t* row = rows_.get() + stride * size_t(y);
        const uint8_t filter = row[0];
        if (filter == 0) continue;
        if (filter > 4) return false;
        uint8_t* cur = row + 1;
        const uint8_t* up = y > 0 ? cur - stride : nullptr;
        for (int32_t x = 0; x < width_; ++x) {
            const int left = x > 0 ? cur[x - 1] : 0;
            const int above = up ? up[x] : 0;
            int prediction = left;  // filter 1, "sub"
            if (filter == 2) prediction = above;
            if (filter == 3) prediction = (left + above) >> 1;
            if (filter == 4) prediction = paeth(left, above, up && x > 0 ? up[x - 1] : 0);
            cur[x] = static_cast<uint8_t>(cur[x] + prediction);
        }
    }
    return true;
}

KV_IDLE_PATH void PaletteRows::expand(platform::Image& image, int32_t top, int32_t bottom) {
    top = std::max(top, 0);
    bottom = std::min(bottom, height_);
    if (top >= bottom || image.width() != width_ || image.height() != height_) return;
    if (bandsDone_.load(std::memory_order_acquire) * kBandRows >= height_) return;
    for (int32_t band = top / kBandRows; band <= (bottom - 1) / kBandRows; ++band) {
        if (bandDone_[band].load(std::memory_order_acquire)) continue;
        std::lock_guard lock(expanding_);
        if (bandDone_[band].load(std::memory_order_relaxed)) continue;
        const int32_t end = std::min(height_, (band + 1) * kBandRows);
        for (int32_t y = band * kBandRows; y < end; ++y) {
            const uint8_t* index = rowBytes(y) + 1;
            uint8_t* out = image.row(y);
            for (int32_t x = 0; x < width_; ++x, out += 4)
                std::memcpy(out, colours_[index[x]], 4);
        }
        image.rowsFilled();
        bandDone_[band].store(true, std::memory_order_release);
        bandsDone_.fetch_add(1, std::memory_order_release);
    }
}

int32_t PaletteRows::expandedRows() const {
    int32_t rows = 0;
    for (int32_t band = 0; band * kBandRows < height_; ++band) {
        if (bandDone_[band].load(std::memory_order_acquire))
            rows += std::min(kBandRows, height_ - band * kBandRows);
    }
    return rows;
}

}  // namespace VSTGUI
