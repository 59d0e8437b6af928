// The panel's clip indicator. The audio thread raises `peak` to the largest
// output sample of every block; each draw on the user-interface thread
// lights the LED when the peak since the last draw was above full scale
// (1.0), keeps it lit for `holdTime` ms after the last draw that saw an
// over, and clears the peak.
//
// The LED is dirty at every check (its setDirty never equalises oldValue and
// value), so the frame redraws it at every idle.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/peak_cell.h"
#include "vstgui/ccontrol.h"

class BrackenlumePeakLed : public VSTGUI::CControl {
  public:
    BrackenlumePeakLed(const VSTGUI::CRect& size, VSTGUI::CBitmap* bitmap);

    void draw(VSTGUI::CDrawContext* context) override;
    void setDirty(bool flag = true) override;
    bool isTypeOf(const char* name) const override;

    double getPeak() const { return peak.load(std::memory_order_relaxed); }
    // The cell the effect's processing raises (raisePeakCell) while the
    // panel is open.
    std::atomic<double>* peakCell() { return &peak; }
    bool isLit() const { return lit; }

  private:
    // The LED's documented member names, as the toolkit's controls keep theirs.
    // NOLINTBEGIN(readability-identifier-naming)
    std::atomic<double> peak{0.0};
    uint32_t holdTime = 300;
    uint32_t litTicks;
    bool lit = false;
    // NOLINTEND(readability-identifier-naming)
};
