// A small WAV reader and writer for the Windows test host (libsndfile is
// not available to the cross build): PCM 16-bit and IEEE float 32-bit,
// any channel count, read into and written from interleaved floats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvtest::wav {

struct Audio {
    int32_t channels = 0;
    int32_t rate = 0;
    std::vector<float> samples;  // interleaved
    int64_t frames() const {
        return channels ? static_cast<int64_t>(samples.size()) / channels : 0;
    }
};

// Reads a RIFF/WAVE file with a "fmt " chunk of format 1 (16-bit PCM),
// 3 (32-bit float) or 0xFFFE with one of those as its sub-format. Answers
// false and a sentence in `error` for anything else or a short file.
bool read(const std::string& path, Audio& audio, std::string& error);

// Writes 32-bit float WAV (format 3) or 16-bit PCM (rounded, clipped).
bool write(const std::string& path, const Audio& audio, bool float32, std::string& error);

}  // namespace kvtest::wav
