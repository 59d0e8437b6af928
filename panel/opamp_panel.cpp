#include "panel/opamp_panel.h"

#include <new>

#include "dsp/param_info.h"
#include "panel/brackenlume_knob.h"
#include "panel/brackenlume_peak_led.h"
#include "panel/panel_scale.h"
#include "vstgui/cbitmap.h"
#include "vstgui/cfont.h"
#include "vstgui/cframe.h"
#include "vstgui/conoffbutton.h"
#include "vstgui/ctextedit.h"
#include "vstgui/density.h"
#include "vstgui/platform/clock.h"
#include "vstgui/platform/graphics.h"
#include "vstgui/platform/native_window.h"

using namespace VSTGUI;

namespace kv::panel {

namespace {

// Resource numbers of the panel's images.
constexpr int32_t kBackgroundImage = 101;  // the whole panel, 240 x 400
constexpr int32_t kKnobImage = 102;        // 97 knob images of 80 x 80, stacked
constexpr int32_t kSwitchImage = 103;      // off above, on below, 40 x 30 each
constexpr int32_t kLedImage = 104;         // unlit above, lit below, 28 x 28 each

constexpr int32_t kKnobImages = 97;
constexpr int32_t kKnobImageHeight = 80;
constexpr float kKnobDragRange = 640.f;  // pixels of travel from 0 to 1
constexpr float kKnobWheelStep = 0.125f;

// The field's font is the table's font 4, in the grey of the panel's labels.
constexpr int32_t kFieldFont = 4;
constexpr CColor kFieldTextColour{168, 168, 168, 255};

// Where everything sits on the panel (left, top, right, bottom).
constexpr CRect kPad1Rect{55, 24, 95, 54};
constexpr CRect kPad2Rect{137, 24, 177, 54};
constexpr CRect kGainKnobRect{80, 90, 160, 170};
constexpr CRect kVolumeKnobRect{80, 230, 160, 310};
constexpr CRect kGainTextRect{30, 174, 60, 188};
constexpr CRect kVolumeTextRect{30, 314, 60, 328};
constexpr CRect kLedRect{180, 307, 208, 335};

// The display conversions write into the field's 256-byte buffer.
constexpr size_t kTextCapacity = 256;

// The knobs turn in the toolkit's linear mode.
constexpr int32_t kLinearKnobMode = 2;

// What a pad switch shows for a parameter value: on exactly when the sound
// engages the pad, so the lamp never lies and a click always flips the pad.
float switchValue(float parameter) {
    return kv::opamp::padEngaged(parameter) ? 1.f : 0.f;
}

bool isParameter(int32_t index) {
    return index >= 0 && index < kv::opamp::kNumParams;
}

CBitmap* loadImage(int32_t id) {
    auto* bitmap = new CBitmap(id);
    bitmap->setTransparentColor(CColor{255, 255, 255, 0});
    return bitmap;
}

// The panel's text needs the font system's one-time set-up (fontconfig
// reads its configuration: tens of milliseconds) and the fields' face
// opened. Both are prepared on a thread of their own, once per process,
// from the moment the first panel opens, while it decodes its pictures
// and makes its window. Not before: an instance that never shows its panel
// (a scanner, a render) leaves fontconfig alone, and a host that reloads
// the library keeps nothing of it. Later calls do nothing.
void prepareFieldFont() {
    VSTGUI::platform::prepareFonts(makeFontDesc(kFieldFont, 0), "0123456789.-");
}

}  // namespace

OpampPanel::OpampPanel(PanelOwner& panelOwner) : owner_(panelOwner) {}

OpampPanel::~OpampPanel() {
    if (frame_) close();
    shownPanel_.withdraw();
}

CRect OpampPanel::panelSize() {
    CBitmap* background = loadImage(kBackgroundImage);
    const CRect size(0, 0, background->getWidth(), background->getHeight());
    background->forget();
    return size;
}

bool OpampPanel::open(void* parent, double scale, kv::opamp::PeakHandover* meter) {
    // A second open without a close would leave the first window behind.
    if (frame_) close();
    prepareFieldFont();

    // Out of memory part-way: whatever was built goes again and the panel
    // stays closed.
    CBitmap* images[4] = {};
    CFrame* newFrame = nullptr;
    CView* pending = nullptr;  // made, but not yet owned by the frame
    try {
        buildPanel(parent, scale, images, newFrame, pending);
    } catch (const std::bad_alloc&) {
        if (pending && !(newFrame && newFrame->isChild(pending))) pending->forget();
        delete newFrame;
        for (CBitmap* image : images) {
            if (image) image->forget();
        }
        forgetControls();
        return false;
    }

    // Last: from here on parameterChanged and valueChanged act, and the
    // audio side meters into the LED.
    frame_ = newFrame;
    shownPanel_.publish(frame_);
    meter_ = meter;
    if (meter_) meter_->publish(peakCell());
    return true;
}

void OpampPanel::buildPanel(void* parent, double scale, CBitmap* (&images)[4], CFrame*& newFrame,
                            CView*& pending) {
    CBitmap*& background = images[0] = loadImage(kBackgroundImage);
    CBitmap*& knobStrip = images[1] = loadImage(kKnobImage);
    CBitmap*& switchImages = images[2] = loadImage(kSwitchImage);
    CBitmap*& ledImages = images[3] = loadImage(kLedImage);

    setToolkitKnobMode(kLinearKnobMode);

    newFrame = new CFrame(CRect(0, 0, background->getWidth(), background->getHeight()), parent,
                          this, scale);
    newFrame->setBackground(background);

    auto value = [this](int32_t index) { return owner_.parameterValue(index); };
    // A view belongs to the frame once added; until then to us.
    auto add = [&](CView* view) {
        newFrame->addView(view);
        pending = nullptr;
    };

    auto* pad1 = new COnOffButton(kPad1Rect, this, kPad1Tag, switchImages);
    pending = pad1;
    pad1->setStyle(COnOffButton::kNotifyAfterRedraw);
    pad1Button_ = pad1;
    pad1->setValue(switchValue(value(kPad1Tag)));
    add(pad1);

    auto* pad2 = new COnOffButton(kPad2Rect, this, kPad2Tag, switchImages);
    pending = pad2;
    pad2->setStyle(COnOffButton::kNotifyAfterRedraw);
    pad2Button_ = pad2;
    pad2->setValue(switchValue(value(kPad2Tag)));
    add(pad2);

    gainKnob_ = new BrackenlumeKnob(kGainKnobRect, this, kGainTag, kKnobImages, kKnobImageHeight,
                                    knobStrip);
    pending = gainKnob_;
    gainKnob_->setValue(value(kGainTag));
    add(gainKnob_);

    volumeKnob_ = new BrackenlumeKnob(kVolumeKnobRect, this, kVolumeTag, kKnobImages,
                                      kKnobImageHeight, knobStrip);
    pending = volumeKnob_;
    volumeKnob_->setValue(value(kVolumeTag));
    add(volumeKnob_);

    auto makeField = [&](const CRect& where, int32_t tag, CParamStringConvert convert,
                         int32_t index) {
        auto* field = new CTextEdit(where, this, tag);
        pending = field;
        field->setFont(kFieldFont);
        field->setTransparency(true);
        field->setFontColor(kFieldTextColour);
        field->setStringConvert(convert);
        field->setValue(value(index));
        add(field);
        return field;
    };
    gainText_ = makeField(kGainTextRect, kGainTextTag, &gainToString, kGainTag);
    volumeText_ = makeField(kVolumeTextRect, kVolumeTextTag, &volumeToString, kVolumeTag);

    peakLed_ = new BrackenlumePeakLed(kLedRect, ledImages);
    pending = peakLed_;
    add(peakLed_);

    for (BrackenlumeKnob* knob : {gainKnob_, volumeKnob_}) {
        knob->setDragRange(kKnobDragRange);
        knob->setWheelInc(kKnobWheelStep);
    }
    gainKnob_->setDefaultValue(kv::opamp::kParamInfo[kGainTag].defaultValue);
    volumeKnob_->setDefaultValue(kv::opamp::kParamInfo[kVolumeTag].defaultValue);

    // The views hold their own references now.
    for (CBitmap*& image : images) {
        image->forget();
        image = nullptr;
    }
}

void OpampPanel::forgetControls() {
    peakLed_ = nullptr;
    gainKnob_ = nullptr;
    volumeKnob_ = nullptr;
    pad1Button_ = nullptr;
    pad2Button_ = nullptr;
    gainText_ = nullptr;
    volumeText_ = nullptr;
}

void OpampPanel::close() {
    // The audio thread first: after this no block writes to the LED.
    if (meter_) meter_->withdraw();
    meter_ = nullptr;
    // A gesture the host heard begin ends now (a drag under way, a click
    // whose handler closed us); its control's own end, later, reaches
    // nobody. The host may close again from inside: nothing is left open.
    for (int32_t index = 0; openGestures_ != 0; ++index) {
        const uint32_t bit = 1u << index;
        if (!(openGestures_ & bit)) continue;
        openGestures_ &= ~bit;
        owner_.endGesture(index);
    }
    shownPanel_.withdraw();
    CFrame* closing = frame_;
    frame_ = nullptr;
    forgetControls();
    // The frame releases its views, which release their bitmaps, once no
    // handler of its own is running: the host may close the window from a
    // call that a knob drag, a switch click or a text commit made. From here
    // on the frame reaches neither this panel nor the host. A text field
    // still open reports its end to a listener that finds no frame.
    if (closing) closing->release();
}

std::atomic<double>* OpampPanel::peakCell() const {
    return peakLed_ ? peakLed_->peakCell() : nullptr;
}

void OpampPanel::parameterChanged(int32_t index, float value) {
    const auto panel = shownPanel_.hold();
    if (!panel) return;
    switch (index) {
        case kGainTag:
            if (gainKnob_) gainKnob_->setValue(value);
            if (gainText_) gainText_->setValue(value);
            break;
        case kPad1Tag:
            if (pad1Button_) pad1Button_->setValue(switchValue(value));
            break;
        case kPad2Tag:
            if (pad2Button_) pad2Button_->setValue(switchValue(value));
            break;
        case kVolumeTag:
            if (volumeKnob_) volumeKnob_->setValue(value);
            if (volumeText_) volumeText_->setValue(value);
            break;
        default:
            break;
    }
}

void OpampPanel::beginEdit(int32_t index) {
    if (!isParameter(index) || !frame_) return;
    // Marked first: the host may close the panel from inside the call.
    openGestures_ |= 1u << index;
    owner_.beginGesture(index);
}

void OpampPanel::endEdit(int32_t index) {
    if (!isParameter(index) || !(openGestures_ & (1u << index))) return;
    openGestures_ &= ~(1u << index);
    owner_.endGesture(index);
}

void OpampPanel::pumpIdle() {
    if (owner_.modalDrags()) {
        owner_.runHost();
    } else if (frame_) {
        // The host runs between its own idle calls: show the change, no more.
        frame_->redrawDirtyViews();
    }
}

bool OpampPanel::sizeWindow(int32_t width, int32_t height) {
    return owner_.resizeHostWindow(width, height);
}

void OpampPanel::desktopScaleChanged(double factor) {
    owner_.followDesktopScale(factor);
}

void OpampPanel::followDesktop(double hostFactor, double desktopFactor) {
    const double next = scaleAfterDesktopChange(hostFactor, desktopFactor);
    if (frame_ && next > 0.0) frame_->setScale(next);
}

void OpampPanel::valueChanged(CDrawContext* /*context*/, CControl* control) {
    if (!frame_ || !control) return;
    // A control of a frame that an earlier close let go of (still finishing
    // its handler) is not ours any more.
    if (control->getFrame() != frame_) return;
    const int32_t tag = control->getTag();
    switch (tag) {
        case kGainTag:
        case kPad1Tag:
        case kPad2Tag:
        case kVolumeTag:
            // The owner stores (and clamps) the value, moves this control and
            // its field through parameterChanged, and tells the host.
            owner_.changeParameter(tag, control->getValue(), true);
            control->setDirty(true);
            break;
        case kGainTextTag:
            applyTypedText(gainText_, kGainTag);
            break;
        case kVolumeTextTag:
            applyTypedText(volumeText_, kVolumeTag);
            break;
        default:
            break;
    }
}

void OpampPanel::applyTypedText(CTextEdit* field, int32_t index) {
    if (!field) return;
    char text[kTextCapacity] = {};
    field->getText(text);
    const kv::opamp::ParamInfo& param = kv::opamp::kParamInfo[index];
    const auto plain = param.plainOfText(text);
    const auto value = plain ? param.normalisedOf(*plain) : std::nullopt;
    if (!value) {
        // No number (a stray key, an empty field): the parameter stays and
        // the field shows its value again.
        field->setDirty(true);
        return;
    }
    // Typed values are not automation: the host saw only the field's edit
    // bracket. The owner calls back into parameterChanged, which shows the
    // clamped value in the field's own format.
    owner_.changeParameter(index, *value, false);
}

namespace {
void writeField(kv::opamp::Param index, float value, char* text) {
    const kv::opamp::ParamInfo& param = kv::opamp::kParamInfo[index];
    param.textOf(param.plainOf(value), text, kTextCapacity);
}
}  // namespace

void OpampPanel::gainToString(float value, char* text) {
    writeField(kv::opamp::kGain, value, text);
}

void OpampPanel::volumeToString(float value, char* text) {
    writeField(kv::opamp::kVolume, value, text);
}

}  // namespace kv::panel
