// The PNG images compiled into the library, generated from resources/<number>.png.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv_resources {

struct EmbeddedPng {
    uint16_t number;  // the resource number, the file's name
    const uint8_t* data;
    size_t size;
};

// Sorted by number; written at build time by embed_png.cmake.
extern const EmbeddedPng kEmbeddedPngs[];
extern const size_t kEmbeddedPngCount;

}  // namespace kv_resources
