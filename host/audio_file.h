// Audio files for kv23 through libsndfile: a reader, and a writer that never
// leaves a half-written file under the final name. The writer works on a
// temporary file in the destination folder and renames it over the final
// name only when everything was written and closed without error; on any
// failure, and on Ctrl-C or a termination signal, the temporary file goes.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace kv::host {

class SoundReader {
  public:
    // Throws RunError with a sentence naming the file on failure.
    explicit SoundReader(const std::string& path);
    ~SoundReader();
    SoundReader(const SoundReader&) = delete;
    SoundReader& operator=(const SoundReader&) = delete;

    int64_t frames() const { return info_.frames; }
    int rate() const { return info_.samplerate; }
    int channels() const { return info_.channels; }
    int format() const { return info_.format; }

    // Reads up to `frames` interleaved frames; answers how many came.
    int64_t read(float* interleaved, int64_t frames);

  private:
    std::string path_;
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
};

// The file format for `outPath`, chosen from its extension: a float source
// (format of the input, or SF_FORMAT_FLOAT for generated audio) stays float,
// otherwise the source's sample type is kept where the container allows it,
// else 16-bit PCM (Vorbis/Opus for Ogg). Throws UsageError for an extension
// that libsndfile cannot write.
int chooseOutputFormat(const std::string& outPath, int sourceFormat, int channels, int rate);

// True when both names lead to the same existing file (device and inode).
bool sameFile(const std::string& a, const std::string& b);

class SoundWriter {
  public:
    // Creates the temporary file beside `finalPath`. Throws RunError.
    SoundWriter(const std::string& finalPath, int rate, int channels, int format);
    // Without commit(), the temporary file is removed.
    ~SoundWriter();
    SoundWriter(const SoundWriter&) = delete;
    SoundWriter& operator=(const SoundWriter&) = delete;

    void write(const float* interleaved, int64_t frames);
    // Closes the file and moves it to its final name. Throws RunError.
    void commit();

    const std::string& temporaryPath() const { return tempPath_; }

  private:
    void discard();

    std::string finalPath_;
    std::string tempPath_;
    SNDFILE* file_ = nullptr;
    bool committed_ = false;
};

}  // namespace kv::host
