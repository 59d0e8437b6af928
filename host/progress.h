// A one-line progress bar on standard error, drawn only when standard error
// is a terminal and the job is long enough for waiting to be noticed.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace kv::host {

class ProgressBar {
  public:
    ProgressBar(int64_t total, bool worthShowing)
        : total_(total), enabled_(worthShowing && total > 0 && ::isatty(STDERR_FILENO) == 1) {}

    void update(int64_t done) {
        if (!enabled_) return;
        const int percent = static_cast<int>(done * 100 / total_);
        if (percent == shown_) return;
        shown_ = percent;
        constexpr int kWidth = 40;
        char bar[kWidth + 1];
        for (int i = 0; i < kWidth; ++i)
            bar[i] = i < percent * kWidth / 100 ? '#' : '.';
        bar[kWidth] = '\0';
        std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
        std::fflush(stderr);
    }

    void finish() {
        if (enabled_ && shown_ >= 0) std::fputs("\r\033[K", stderr);
        shown_ = -1;
    }

    ~ProgressBar() { finish(); }

  private:
    int64_t total_;
    bool enabled_;
    int shown_ = -1;
};

}  // namespace kv::host
