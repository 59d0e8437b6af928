// Pictures resampled to a fractional factor, kept once per process.
//
// At 1.5x, 1.25x or 2.5x the panel's pictures (drawn at two pixels a unit)
// are resampled to the device's pixels. Doing that at every draw cost more
// than the whole rest of a draw: cairo sets up its filter and convolves
// every pixel again, even for the background under a lamp that blinks. The
// result of one resampling depends only on the source pixels, the part of
// the picture taken and the device pixels it is drawn onto, so it is kept
// here under those and later draws copy it 1:1, which gives the same pixels.
// A panel redraws the same few rectangles again and again (the whole panel,
// a knob, the lamp), so each needs one resampling per factor.
//
// The decoded pictures are shared by every panel of the process, and so is
// this: the lock is held only to look up and to store, never while
// resampling or drawing. Memory is bounded: past kBudgetBytes the pictures
// used longest ago are dropped (a host that opens the panel at many factors,
// a knob turned through all its frames at a large factor), and a later draw
// of one of them resamples it again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

#include "vstgui/geometry.h"

namespace VSTGUI::platform::cairo {

class CairoImage;

struct ResampleKey {
    // Image::contentId of the source: never the same for two pictures of
    // the process, and new whenever the source's pixels change.
    uint64_t content = 0;
    // The source's pixels taken, the device pixels they fill and the part
    // of those drawn (inside the clip): where, not only how many, as cairo's
    // rounding depends on the place and on the part it composes.
    CRect from;
    CRect to;
    CRect area;
    // How the source's pixels are read before resampling (as they are, made
    // opaque, or with one colour made transparent: 0xRRGGBB in `key`).
    uint8_t mode = 0;
    uint32_t key = 0;

    bool operator==(const ResampleKey& other) const;
};

class ResampleCache {
  public:
    // At 1.5x an open panel keeps about 1 MB (its background, the pads, the
    // lamp, a frame of each knob and the background under the views that
    // redraw alone); a knob turned through all its 97 frames adds 5.6 MB.
    // At 3x the background alone is 3.5 MB and a knob frame 230 kB: what
    // a long drag leaves is dropped oldest first.
    static constexpr size_t kBudgetBytes = size_t{8} << 20;

    // The picture kept under `key`, or null.
    std::shared_ptr<const CairoImage> find(const ResampleKey& key);
    // Keeps `picture` under `key` (unless it alone exceeds the budget) and
    // answers it; pictures used longest ago go until the budget holds.
    std::shared_ptr<const CairoImage> keep(const ResampleKey& key,
                                           std::unique_ptr<CairoImage> picture);

    // The bytes of pixels kept now.
    size_t bytes() const;
    // Drops every picture.
    void clear();

    // The one every device of the process draws through.
    static ResampleCache& process();

  private:
    struct Entry {
        ResampleKey key;
        std::shared_ptr<const CairoImage> picture;
        size_t bytes;
    };
    mutable std::mutex lock_;
    // Most recently used first. A panel's draws hit the first few entries
    // (the pictures of the last idle), and even a full budget holds only a
    // few hundred, so a list searched from the front serves as well as a map.
    std::list<Entry> entries_;
    size_t bytes_ = 0;
};

}  // namespace VSTGUI::platform::cairo
