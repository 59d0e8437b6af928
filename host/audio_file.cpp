#include "host/audio_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "host/cli.h"

namespace kv::host {

namespace {

// The temporary file of the writer in progress, for the signal handler,
// which may only use async-signal-safe calls: a fixed buffer and unlink().
char gPendingTemp[4096];
struct sigaction gOldInt, gOldTerm, gOldHup;

void removePendingAndDie(int sig) {
    if (gPendingTemp[0] != '\0') ::unlink(gPendingTemp);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void watchSignals(const std::string& temp) {
    if (temp.size() >= sizeof gPendingTemp) return;
    std::memcpy(gPendingTemp, temp.c_str(), temp.size() + 1);
    struct sigaction action {};
    action.sa_handler = removePendingAndDie;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &gOldInt);
    sigaction(SIGTERM, &action, &gOldTerm);
    sigaction(SIGHUP, &action, &gOldHup);
}

void unwatchSignals() {
    sigaction(SIGINT, &gOldInt, nullptr);
    sigaction(SIGTERM, &gOldTerm, nullptr);
    sigaction(SIGHUP, &gOldHup, nullptr);
    gPendingTemp[0] = '\0';
}

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// The container for an extension, from libsndfile's own table so that every
// format this libsndfile writes is available.
int majorFormatFor(const std::string& ext) {
    if (ext == "aif") return SF_FORMAT_AIFF;
    if (ext == "oga" || ext == "opus") return SF_FORMAT_OGG;
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info);
        if (info.extension != nullptr && ext == info.extension) return info.format;
    }
    return 0;
}

bool writable(int format, int channels, int rate) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = rate;
    return sf_format_check(&info) != 0;
}

}  // namespace

SoundReader::SoundReader(const std::string& path) : path_(path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        throw RunError("cannot open the input " + path + ": " + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) throw RunError("the input " + path + " is a folder, not a file");
    file_ = sf_open(path.c_str(), SFM_READ, &info_);
    if (file_ == nullptr) {
        throw RunError("cannot read the input " + path + " as audio: " + sf_strerror(nullptr) +
                       " (use a WAV, FLAC, AIFF or Ogg file)");
    }
}

SoundReader::~SoundReader() {
    if (file_ != nullptr) sf_close(file_);
}

int64_t SoundReader::read(float* interleaved, int64_t frames) {
    const sf_count_t got = sf_readf_float(file_, interleaved, frames);
    if (got < 0) throw RunError("reading " + path_ + " failed: " + sf_strerror(file_));
    return got;
}

int chooseOutputFormat(const std::string& outPath, int sourceFormat, int channels, int rate) {
    const std::string ext = lowerExtension(outPath);
    const int major = majorFormatFor(ext);
    if (major == 0) {
        throw UsageError("cannot tell the audio format of " + outPath + " from its extension \"" +
                         ext + "\" (use .wav, .flac, .aiff or .ogg)");
    }
    const int sourceSub = sourceFormat & SF_FORMAT_SUBMASK;
    int candidates[6] = {sourceSub,        SF_FORMAT_PCM_16, SF_FORMAT_PCM_24,
                         SF_FORMAT_VORBIS, SF_FORMAT_OPUS,   SF_FORMAT_FLOAT};
    if (sourceSub == SF_FORMAT_DOUBLE || sourceSub == SF_FORMAT_FLOAT) {
        // Float stays float: the plug-in's output may exceed full scale and a
        // float file keeps those samples.
        candidates[1] = SF_FORMAT_FLOAT;
    }
    for (int sub : candidates) {
        if (sub != 0 && writable(major | sub, channels, rate)) return major | sub;
    }
    throw UsageError("libsndfile cannot write " + std::to_string(channels) + " channels at " +
                     std::to_string(rate) + " Hz as " + ext + " (" + outPath + ")");
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

SoundWriter::SoundWriter(const std::string& finalPath, int rate, int channels, int format)
    : finalPath_(finalPath) {
    namespace fs = std::filesystem;
    const fs::path target(finalPath);
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::string pattern = (folder / ("." + target.filename().string() + ".kv23-XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        throw RunError("cannot create the output in " + folder.string() + ": " +
                       std::strerror(errno) + " (does the folder exist and may we write there?)");
    }
    tempPath_ = pattern;
    watchSignals(tempPath_);

    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (file_ == nullptr) {
        // libsndfile closes the descriptor itself when it gives up.
        const std::string why = sf_strerror(nullptr);
        discard();
        throw RunError("cannot write " + finalPath + ": " + why);
    }
    // Overs in an integer file clip at full scale instead of wrapping around.
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

SoundWriter::~SoundWriter() {
    if (!committed_) discard();
}

void SoundWriter::discard() {
    if (file_ != nullptr) sf_close(file_);
    file_ = nullptr;
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    unwatchSignals();
}

void SoundWriter::write(const float* interleaved, int64_t frames) {
    if (sf_writef_float(file_, interleaved, frames) != frames) {
        throw RunError("writing " + finalPath_ + " failed: " + sf_strerror(file_) +
                       " (is the disk full?)");
    }
}

void SoundWriter::commit() {
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) {
        throw RunError("finishing " + finalPath_ + " failed: " + sf_error_number(closed));
    }
    // mkstemp made the file readable by us alone; a finished file gets the
    // usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(tempPath_.c_str(), 0666 & ~mask);
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        throw RunError("cannot move the finished output to " + finalPath_ + ": " +
                       std::strerror(errno));
    }
    committed_ = true;
    unwatchSignals();
}

}  // namespace kv::host
