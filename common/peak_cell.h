// The cell through which the audio thread shows a panel's LED the output
// peak: any format's processing raises it, the LED reads and clears it.
#pragma once

#include <atomic>

// Audio thread: raises a peak cell to `level` when that is higher; an equal
// value or a NaN leaves it as it is. A draw reads and clears the cell in
// one exchange, so no raise is lost.
inline void raisePeakCell(std::atomic<double>& cell, double level) noexcept {
    double held = cell.load(std::memory_order_relaxed);
    while (level > held && !cell.compare_exchange_weak(held, level, std::memory_order_relaxed)) {
    }
}
