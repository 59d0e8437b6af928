// The fixture's panel, drawn with cairo through DPF: a vertical bar that
// shows the gain and follows a drag (an edit from press to release). DPF
// scales it by the host's factor.
#include "DistrhoUI.hpp"

START_NAMESPACE_DISTRHO

class DpfUiFixture : public UI {
  public:
    DpfUiFixture() : UI(200, 300, true) {}

  protected:
    void parameterChanged(uint32_t, float value) override {
        gainDb_ = value;
        repaint();
    }

    void onCairoDisplay(const CairoGraphicsContext& context) override {
        cairo_t* cr = context.handle;
        const double w = getWidth(), h = getHeight();
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_paint(cr);
        const double level = (gainDb_ + 24.0) / 48.0;
        cairo_set_source_rgb(cr, 0.9, 0.6, 0.1);
        cairo_rectangle(cr, w * 0.25, h * (1.0 - level), w * 0.5, h * level);
        cairo_fill(cr);
    }

    bool onMouse(const MouseEvent& event) override {
        if (event.button != 1) return false;
        if (event.press) {
            dragging_ = true;
            pressY_ = event.pos.getY();
            pressDb_ = gainDb_;
            editParameter(0, true);
        } else if (dragging_) {
            dragging_ = false;
            editParameter(0, false);
        }
        return true;
    }

    bool onMotion(const MotionEvent& event) override {
        if (!dragging_) return false;
        float db = pressDb_ + static_cast<float>(pressY_ - event.pos.getY()) * 0.25f;
        db = db < -24.0f ? -24.0f : db > 24.0f ? 24.0f : db;
        if (db != gainDb_) {
            gainDb_ = db;
            setParameterValue(0, db);
            repaint();
        }
        return true;
    }

  private:
    float gainDb_ = 0.0f;
    float pressDb_ = 0.0f;
    double pressY_ = 0.0;
    bool dragging_ = false;
};

UI* createUI() {
    return new DpfUiFixture();
}

END_NAMESPACE_DISTRHO
