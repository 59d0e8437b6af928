#include "plugin/brackenlume_opamp_gui.h"
#include "vstgui/platform/graphics.h"

#include <new>

#include "dsp/decibel_text.h"
#include "plugin/brackenlume_knob.h"
#include "plugin/brackenlume_opamp.h"
#include "plugin/brackenlume_peak_led.h"
#include "vstgui/cbitmap.h"
#include "vstgui/cfont.h"
#include "vstgui/cframe.h"
#include "vstgui/conoffbutton.h"
#include "vstgui/ctextedit.h"

using namespace VSTGUI;

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

// What a pad switch shows for a parameter value: on exactly when the sound
// engages the pad, so the lamp never lies and a click always flips the pad.
float switchValue(float parameter) {
    return kv::opamp::padEngaged(parameter) ? 1.f : 0.f;
}

CBitmap* loadImage(int32_t id) {
    auto* bitmap = new CBitmap(id);
    bitmap->setTransparentColor(CColor{255, 255, 255, 0});
    return bitmap;
}

// The panel's text needs the font system's one-time set-up (fontconfig
// reads its configuration: tens of milliseconds) and the fields' face
// opened. Both are prepared on a thread of their own, once per process,
// from the moment the first editor opens, while it decodes its pictures
// and makes its window. Not before: an instance that never shows its panel
// (a scanner, a render) leaves fontconfig alone, and a host that reloads
// the library keeps nothing of it. Later calls do nothing.
void prepareFieldFont() {
    VSTGUI::platform::prepareFonts(makeFontDesc(kFieldFont, 0), "0123456789.-");
}

}  // namespace

AEffEditor* createOpampEditor(BrackenlumeOpamp* effect) {
    // Out of memory half-way through the constructor: the editor never
    // registered itself, and the effect runs without one.
    try {
        return new (std::nothrow) BrackenlumeOpampGUI(effect);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool setOpampEditorScale(AEffEditor* editor, float factor) {
    // The only editor this effect ever holds is the one made above.
    auto* panel = static_cast<BrackenlumeOpampGUI*>(editor);
    if (!panel) return false;
    panel->setHostScale(factor);
    return true;
}

BrackenlumeOpampGUI::BrackenlumeOpampGUI(BrackenlumeOpamp* owner)
    : AEffGUIEditor(owner), opamp(owner) {
    // Dragging files or text onto the panel needs no per-thread service on
    // this system: the frame's window registers itself as a drop target.
    CBitmap* background = loadImage(kBackgroundImage);
    rect.top = 0;
    rect.left = 0;
    rect.bottom = static_cast<int16_t>(background->getHeight());
    rect.right = static_cast<int16_t>(background->getWidth());
    background->forget();
    // Registered last, when nothing can fail any more: the effect deletes
    // the editor it holds, and must never hold one that is half built.
    if (owner) {
        owner->setEditor(this);
        owner->cEffect.flags |= effFlagsHasEditor;
    }
}

BrackenlumeOpampGUI::~BrackenlumeOpampGUI() {
    // A host that deletes the effect with the window still open: the effect
    // deletes its editor while it is still whole, so the LED is withdrawn
    // from processing as on a normal close.
    if (frame) close();
    shownPanel.withdraw();
}

bool BrackenlumeOpampGUI::open(void* ptr) {
    // A second open without a close would leave the first window behind.
    if (frame) close();
    systemWindow = ptr;
    prepareFieldFont();

    // Out of memory part-way: whatever was built goes again, the host hears
    // 0 and the instance stays as it was, so a later open starts afresh.
    CBitmap* images[4] = {};
    CFrame* newFrame = nullptr;
    CView* pending = nullptr;  // made, but not yet owned by the frame
    try {
        buildPanel(ptr, images, newFrame, pending);
    } catch (const std::bad_alloc&) {
        if (pending && !(newFrame && newFrame->isChild(pending))) pending->forget();
        delete newFrame;
        for (CBitmap* image : images) {
            if (image) image->forget();
        }
        forgetControls();
        systemWindow = nullptr;
        return false;
    }

    // Last: from here on idle, setParameter and valueChanged act, and the
    // audio thread meters into the LED.
    frame = newFrame;
    shownPanel.publish(frame);
    if (opamp) opamp->publishPeak(peakLed->peakCell());
    return true;
}

void BrackenlumeOpampGUI::buildPanel(void* ptr, CBitmap* (&images)[4], CFrame*& newFrame,
                                     CView*& pending) {
    CBitmap*& background = images[0] = loadImage(kBackgroundImage);
    CBitmap*& knobStrip = images[1] = loadImage(kKnobImage);
    CBitmap*& switchImages = images[2] = loadImage(kSwitchImage);
    CBitmap*& ledImages = images[3] = loadImage(kLedImage);

    setKnobMode(2);

    newFrame = new CFrame(CRect(0, 0, background->getWidth(), background->getHeight()), ptr, this,
                          chooseScale(ptr));
    newFrame->setBackground(background);

    auto value = [this](int32_t index) { return effect ? effect->getParameter(index) : 0.f; };
    // A view belongs to the frame once added; until then to us.
    auto add = [&](CView* view) {
        newFrame->addView(view);
        pending = nullptr;
    };

    auto* pad1 = new COnOffButton(kPad1Rect, this, kPad1Tag, switchImages);
    pending = pad1;
    pad1->setStyle(COnOffButton::kNotifyAfterRedraw);
    pad1Button = pad1;
    pad1->setValue(switchValue(value(kPad1Tag)));
    add(pad1);

    auto* pad2 = new COnOffButton(kPad2Rect, this, kPad2Tag, switchImages);
    pending = pad2;
    pad2->setStyle(COnOffButton::kNotifyAfterRedraw);
    pad2Button = pad2;
    pad2->setValue(switchValue(value(kPad2Tag)));
    add(pad2);

    gainKnob = new BrackenlumeKnob(kGainKnobRect, this, kGainTag, kKnobImages, kKnobImageHeight,
                                   knobStrip);
    pending = gainKnob;
    gainKnob->setValue(value(kGainTag));
    add(gainKnob);

    volumeKnob = new BrackenlumeKnob(kVolumeKnobRect, this, kVolumeTag, kKnobImages,
                                     kKnobImageHeight, knobStrip);
    pending = volumeKnob;
    volumeKnob->setValue(value(kVolumeTag));
    add(volumeKnob);

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
    gainText = makeField(kGainTextRect, kGainTextTag, &gainToString, kGainTag);
    volumeText = makeField(kVolumeTextRect, kVolumeTextTag, &volumeToString, kVolumeTag);

    peakLed = new BrackenlumePeakLed(kLedRect, ledImages);
    pending = peakLed;
    add(peakLed);

    for (BrackenlumeKnob* knob : {gainKnob, volumeKnob}) {
        knob->setDragRange(kKnobDragRange);
        knob->setWheelInc(kKnobWheelStep);
    }
    gainKnob->setDefaultValue(kv::opamp::kGainDefault);
    volumeKnob->setDefaultValue(kv::opamp::kVolumeDefault);

    // The views hold their own references now.
    for (CBitmap*& image : images) {
        image->forget();
        image = nullptr;
    }
}

void BrackenlumeOpampGUI::forgetControls() {
    peakLed = nullptr;
    gainKnob = nullptr;
    volumeKnob = nullptr;
    pad1Button = nullptr;
    pad2Button = nullptr;
    gainText = nullptr;
    volumeText = nullptr;
}

void BrackenlumeOpampGUI::close() {
    // The audio thread first: after this no block writes to the LED.
    if (opamp) opamp->withdrawPeak();
    shownPanel.withdraw();

    CFrame* closing = frame;
    frame = nullptr;
    forgetControls();
    AEffGUIEditor::close();
    // The frame releases its views, which release their bitmaps, once no
    // handler of its own is running: the host may close the editor from a
    // call that a knob drag, a switch click or a text commit made. From here
    // on the frame reaches neither this editor nor the host. A text field
    // still open reports its end to a listener that finds no frame.
    if (closing) closing->release();
}

void BrackenlumeOpampGUI::setParameter(int32_t index, float /*value*/) {
    const auto panel = shownPanel.hold();
    if (panel && effect) {
        // The stored value, which the effect may have clamped.
        const float stored = effect->getParameter(index);
        switch (index) {
            case kGainTag:
                if (gainKnob) gainKnob->setValue(stored);
                if (gainText) gainText->setValue(stored);
                break;
            case kPad1Tag:
                if (pad1Button) pad1Button->setValue(switchValue(stored));
                break;
            case kPad2Tag:
                if (pad2Button) pad2Button->setValue(switchValue(stored));
                break;
            case kVolumeTag:
                if (volumeKnob) volumeKnob->setValue(stored);
                if (volumeText) volumeText->setValue(stored);
                break;
            default:
                break;
        }
    }
}

void BrackenlumeOpampGUI::beginEdit(int32_t index) {
    if (effect && index >= 0 && index < effect->getAeffect()->numParams)
        AEffGUIEditor::beginEdit(index);
}

void BrackenlumeOpampGUI::endEdit(int32_t index) {
    if (effect && index >= 0 && index < effect->getAeffect()->numParams)
        AEffGUIEditor::endEdit(index);
}

void BrackenlumeOpampGUI::valueChanged(CDrawContext* /*context*/, CControl* control) {
    if (!frame || !control || !effect) return;
    // A control of a frame that an earlier close let go of (still finishing
    // its handler) is not ours any more.
    if (control->getFrame() != frame) return;
    const int32_t tag = control->getTag();
    if (tag < 0) return;
    switch (tag) {
        case kGainTag:
        case kPad1Tag:
        case kPad2Tag:
        case kVolumeTag:
            // The effect stores (and clamps) the value, moves this control
            // and its field through setParameter, and tells the host.
            effect->setParameterAutomated(tag, control->getValue());
            control->setDirty(true);
            break;
        case kGainTextTag:
            applyTypedText(gainText, kGainTag, kv::opamp::kGainScale);
            break;
        case kVolumeTextTag:
            applyTypedText(volumeText, kVolumeTag, kv::opamp::kVolumeScale);
            break;
        default:
            break;
    }
}

void BrackenlumeOpampGUI::applyTypedText(CTextEdit* field, int32_t index,
                                         const kv::opamp::DecibelScale& scale) {
    if (!field) return;
    char text[kTextCapacity] = {};
    field->getText(text);
    float number = 0.f;
    if (!readDecibels(text, number)) {
        // No number (a stray key, an empty field): the parameter stays and
        // the field shows its value again.
        field->setDirty(true);
        return;
    }
    float result = scale.fromDb(number);
    if (result < 0.f) result = 0.f;
    if (result > 1.f) result = 1.f;
    // Typed values are not automation: the host saw only the field's edit
    // bracket. The effect calls back into setParameter, which shows the
    // clamped value in the field's own format.
    effect->setParameter(index, result);
}

bool BrackenlumeOpampGUI::readDecibels(const char* text, float& number) {
    return kv::opamp::readDecibels(text, number);
}

void BrackenlumeOpampGUI::gainToString(float value, char* text) {
    kv::opamp::formatDecibels(kv::opamp::kGainScale.toDb(value), text);
}

void BrackenlumeOpampGUI::volumeToString(float value, char* text) {
    kv::opamp::formatDecibels(kv::opamp::kVolumeScale.toDb(value), text);
}
