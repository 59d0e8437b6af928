#include "png_chunks.h"

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>

namespace kvtest {
namespace {

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// CRC-32 as PNG defines it (reflected polynomial 0xEDB88320), over type and data.
uint32_t crc32(const uint8_t* data, size_t size) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

}  // namespace

bool PngInfo::has(const std::string& type) const {
    for (const PngChunk& c : chunks)
        if (c.type == type) return true;
    return false;
}

PngInfo readPngInfo(const std::vector<uint8_t>& bytes) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PngInfo info;
    if (bytes.size() < 8 || std::memcmp(bytes.data(), signature, 8) != 0) return info;
    info.signatureOk = true;
    size_t pos = 8;
    while (pos + 12 <= bytes.size()) {
        const uint32_t length = bigEndian32(&bytes[pos]);
        if (length > bytes.size() - pos - 12) return info;  // runs past the end
        const uint8_t* type = &bytes[pos + 4];
        const uint8_t* data = type + 4;
        PngChunk chunk;
        chunk.type.assign(reinterpret_cast<const char*>(type), 4);
        chunk.length = length;
        chunk.crcOk = crc32(type, length + 4) == bigEndian32(data + length);
        if (chunk.type == "IHDR" && length == 13) {
            info.width = bigEndian32(data);
            info.height = bigEndian32(data + 4);
            info.bitDepth = data[8];
            info.colourType = data[9];
        } else if (chunk.type == "PLTE") {
            info.paletteEntries = length / 3;
        } else if (chunk.type == "tRNS") {
            info.transparencyEntries = length;
        }
        info.chunks.push_back(chunk);
        pos += 12 + size_t(length);
        if (chunk.type == "IEND") {
            info.complete = pos == bytes.size();
            break;
        }
    }
    return info;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string resourcePath(int number) {
    return std::string(KV_RESOURCE_DIR) + "/" + std::to_string(number) + ".png";
}

Decoded decodePng(const std::vector<uint8_t>& bytes) {
    Decoded d;
    if (bytes.empty()) return d;
    stbi_uc* p =
        stbi_load_from_memory(bytes.data(), int(bytes.size()), &d.width, &d.height, &d.channels, 0);
    if (p == nullptr) return Decoded{};
    d.pixels.assign(p, p + size_t(d.width) * d.height * d.channels);
    stbi_image_free(p);
    return d;
}

}  // namespace kvtest
