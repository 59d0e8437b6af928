#include "platform/cairo/resample_cache.h"

#include <new>
#include <utility>

#include "common/idle_path.h"
#include "platform/cairo/cairo_device.h"

namespace VSTGUI::platform::cairo {

bool ResampleKey::operator==(const ResampleKey& other) const {
    return content == other.content && from == other.from && to == other.to && area == other.area &&
           mode == other.mode && key == other.key;
}

KV_IDLE_PATH std::shared_ptr<const CairoImage> ResampleCache::find(const ResampleKey& key) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (!(it->key == key)) continue;
        if (it != entries_.begin()) entries_.splice(entries_.begin(), entries_, it);
        return it->picture;
    }
    return nullptr;
}

std::shared_ptr<const CairoImage> ResampleCache::keep(const ResampleKey& key,
                                                      std::unique_ptr<CairoImage> picture) {
    if (!picture) return nullptr;
    const size_t size = size_t(picture->width()) * size_t(picture->height()) * 4;
    std::shared_ptr<const CairoImage> shared;
    try {
        shared = std::move(picture);
    } catch (const std::bad_alloc&) {
        return nullptr;  // the unique pointer still holds the picture and frees it
    }
    if (size > kBudgetBytes) return shared;
    std::lock_guard<std::mutex> guard(lock_);
    // Another panel may have made the same picture meanwhile: one copy.
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->key == key) {
            bytes_ -= it->bytes;
            entries_.erase(it);
            break;
        }
    }
    while (!entries_.empty() && bytes_ + size > kBudgetBytes) {
        bytes_ -= entries_.back().bytes;
        entries_.pop_back();
    }
    try {
        entries_.push_front(Entry{key, shared, size});
        bytes_ += size;
    } catch (const std::bad_alloc&) {
        // Drawn this time, resampled again next time.
    }
    return shared;
}

size_t ResampleCache::bytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return bytes_;
}

void ResampleCache::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.clear();
    bytes_ = 0;
}

ResampleCache& ResampleCache::process() {
    // Destroyed when the module is unloaded, as the decoded pictures are.
    static ResampleCache cache;
    return cache;
}

}  // namespace VSTGUI::platform::cairo
