// The panel's clip indicator. The audio thread raises `peak` for every
// output sample; each draw on the user-interface thread lights the LED when
// the peak since the last draw was above full scale (1.0), keeps it lit for
// `holdTime` ms after the last draw that saw an over, and clears the peak.
//
// The LED is dirty at every check (its setDirty never equalises oldValue and
// value), so the frame redraws it at every idle.
#pragma once

#include <atomic>
#include <cstdint>

#include "vstgui/ccontrol.h"

class BrackenlumePeakLed : public VSTGUI::CControl {
  public:
    BrackenlumePeakLed(const VSTGUI::CRect& size, VSTGUI::CBitmap* bitmap);

    void draw(VSTGUI::CDrawContext* context) override;
    void setDirty(bool flag = true) override;
    bool isTypeOf(const char* name) const override;

    // Audio thread: raises the held peak to `level` when it is higher. A
    // raise racing with a draw's clear may be lost (one indication at most).
    void raisePeak(double level) {
        double current = peak.load(std::memory_order_relaxed);
        if (current < level) peak.store(level, std::memory_order_relaxed);
    }
    double getPeak() const { return peak.load(std::memory_order_relaxed); }
    // The cell the effect's processing raises while the panel is open.
    std::atomic<double>* peakCell() { return &peak; }
    bool isLit() const { return lit; }

  private:
    std::atomic<double> peak{0.0};
    uint32_t holdTime = 300;
    uint32_t litTicks;
    bool lit = false;
};
