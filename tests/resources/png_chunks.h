// A minimal PNG reader for the tests: the chunk list and the header fields, read with our
// own parser so that the checks do not depend on the decoder they are meant to check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvtest {

struct PngChunk {
    std::string type;  // four ASCII letters, e.g. "IHDR"
    uint32_t length = 0;
    bool crcOk = false;
};

struct PngInfo {
    bool signatureOk = false;
    bool complete = false;  // every chunk lies inside the data and the last one is IEND
    uint32_t width = 0;
    uint32_t height = 0;
    int bitDepth = 0;
    int colourType = -1;
    uint32_t paletteEntries = 0;       // PLTE length / 3
    uint32_t transparencyEntries = 0;  // tRNS length (palette images: one alpha per entry)
    std::vector<PngChunk> chunks;

    bool has(const std::string& type) const;
};

PngInfo readPngInfo(const std::vector<uint8_t>& bytes);

std::vector<uint8_t> readFile(const std::string& path);
std::string resourcePath(int number);

// Decoded pixels as the toolkit receives them: the file's own channel count, top row first.
struct Decoded {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;

    const uint8_t* at(int x, int y) const { return &pixels[(size_t(y) * width + x) * channels]; }
};

Decoded decodePng(const std::vector<uint8_t>& bytes);

}  // namespace kvtest
