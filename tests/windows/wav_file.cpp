#include "wav_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kvtest::wav {

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

bool read(const std::string& path, Audio& audio, std::string& error) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        error = path + " is not a RIFF/WAVE file";
        return false;
    }
    uint16_t format = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    const uint8_t* data = nullptr;
    size_t dataSize = 0;
    size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const uint8_t* chunk = bytes.data() + pos;
        const size_t size = le32(chunk + 4);
        const size_t body = pos + 8;
        const size_t available = bytes.size() - body;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16 && available >= 16) {
            format = le16(chunk + 8);
            channels = le16(chunk + 10);
            rate = le32(chunk + 12);
            bits = le16(chunk + 22);
            if (format == 0xFFFE && size >= 26 && available >= 26) format = le16(chunk + 32);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            data = chunk + 8;
            dataSize = size < available ? size : available;  // a truncated file keeps what it has
        }
        pos = body + size + (size & 1);
    }
    const bool pcm16 = format == 1 && bits == 16;
    const bool float32 = format == 3 && bits == 32;
    if (!data || channels == 0 || rate == 0 || (!pcm16 && !float32)) {
        error = path + ": only 16-bit PCM and 32-bit float WAV files are read";
        return false;
    }
    const size_t width = pcm16 ? 2 : 4;
    const size_t count = dataSize / width / channels * channels;
    audio.channels = channels;
    audio.rate = static_cast<int32_t>(rate);
    audio.samples.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = data + i * width;
        if (pcm16) {
            audio.samples[i] = static_cast<float>(static_cast<int16_t>(le16(p))) / 32768.0f;
        } else {
            const uint32_t bitsOf = le32(p);
            std::memcpy(&audio.samples[i], &bitsOf, 4);
        }
    }
    return true;
}

bool write(const std::string& path, const Audio& audio, bool float32, std::string& error) {
    const size_t width = float32 ? 4 : 2;
    const size_t dataSize = audio.samples.size() * width;
    std::vector<uint8_t> out;
    out.reserve(44 + dataSize);
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put32(out, static_cast<uint32_t>(36 + dataSize));
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(out, 16);
    put16(out, float32 ? 3 : 1);
    put16(out, static_cast<uint16_t>(audio.channels));
    put32(out, static_cast<uint32_t>(audio.rate));
    put32(out, static_cast<uint32_t>(audio.rate * audio.channels * width));
    put16(out, static_cast<uint16_t>(audio.channels * width));
    put16(out, static_cast<uint16_t>(width * 8));
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(out, static_cast<uint32_t>(dataSize));
    for (float s : audio.samples) {
        if (float32) {
            uint32_t b = 0;
            std::memcpy(&b, &s, 4);
            put32(out, b);
        } else {
            float v = std::nearbyint(s * 32768.0f);
            v = v > 32767.0f ? 32767.0f : (v < -32768.0f ? -32768.0f : v);
            put16(out, static_cast<uint16_t>(static_cast<int16_t>(v)));
        }
    }
    File f(std::fopen(path.c_str(), "wb"));
    if (!f || std::fwrite(out.data(), 1, out.size(), f.get()) != out.size()) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace kvtest::wav
