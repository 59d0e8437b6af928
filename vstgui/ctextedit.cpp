#include "vstgui/ctextedit.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "vstgui/cdrawcontext.h"
#include "vstgui/cfont.h"
#include "vstgui/cframe.h"
#include "vstgui/density.h"
#include "vstgui/platform/clock.h"
#include "vstgui/platform/native_window.h"

namespace VSTGUI {

const char kMsgLooseFocus[] = "LooseFocus";

namespace {
constexpr size_t kBufferSize = CTextEdit::kMaxTextLength + 1;

// Copies at most kMaxTextLength bytes of src into dst (kBufferSize bytes),
// never cutting a UTF-8 sequence in half, and terminates it.
void copyLimited(char* dst, const char* src) {
    size_t n = std::strlen(src);
    if (n > static_cast<size_t>(CTextEdit::kMaxTextLength)) {
        n = CTextEdit::kMaxTextLength;
        // Step back over continuation bytes to the start of the cut sequence.
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memmove(dst, src, n);
    dst[n] = 0;
}
}  // namespace

CTextEdit::CTextEdit(const CRect& r, CControlListener* l, int32_t t, const char* initial,
                     CBitmap* backgroundBitmap, int32_t initialStyle)
    : CParamDisplay(r, backgroundBitmap, initialStyle) {
    listener = l;
    tag = t;
    if (initial) copyLimited(textBuffer, initial);
    setWantsFocus(true);
}

CTextEdit::~CTextEdit() {
    // No reports may reach a half-destroyed control.
    closing = true;
    field.reset();
}

bool CTextEdit::isTypeOf(const char* name) const {
    return name && (std::strcmp(name, "CTextEdit") == 0 || CParamDisplay::isTypeOf(name));
}

void CTextEdit::setText(const char* newText) {
    if (!newText) {
        if (textBuffer[0]) {
            textBuffer[0] = 0;
            setDirty(true);
        }
        return;
    }
    char limited[kBufferSize];
    copyLimited(limited, newText);
    if (std::strcmp(limited, textBuffer) == 0) return;
    std::memcpy(textBuffer, limited, kBufferSize);
    setDirty(true);
}

void CTextEdit::getText(char* out) const {
    if (out) std::memcpy(out, textBuffer, std::strlen(textBuffer) + 1);
}

void CTextEdit::setEditConvertWithData(CTextEditConvertWithData convert, void* data) {
    editConvertWithData = convert;
    userData = data;
}

void CTextEdit::setEditConvert(CTextEditConvert convert) {
    editConvert = convert;
}

void CTextEdit::draw(CDrawContext* context) {
    // The open field covers the control.
    const float shown = valueToDraw();
    if (field) {
        setDirty(false);
        return;
    }
    char buffer[256] = {};
    if (editConvertWithData) {
        editConvertWithData(textBuffer, buffer, userData);
    } else if (editConvert) {
        editConvert(textBuffer, buffer);
    } else if (stringConvertWithData) {
        stringConvertWithData(shown, buffer, userData);
        buffer[sizeof(buffer) - 1] = 0;
        copyLimited(textBuffer, buffer);
    } else if (stringConvert) {
        stringConvert(shown, buffer);
        buffer[sizeof(buffer) - 1] = 0;
        copyLimited(textBuffer, buffer);
    } else {
        std::memcpy(buffer, textBuffer, kBufferSize);
    }
    buffer[sizeof(buffer) - 1] = 0;
    drawText(context, buffer, nullptr);
    setDirty(false);
}

void CTextEdit::onMouseDown(CDrawContext* context, const CPoint&, int32_t buttons) {
    if (!isMouseEnabled()) return;
    if (buttons == -1) buttons = context ? context->getMouseButtons() : 0;
    // The listener's hook comes before the primary-button test here.
    if (listener && (buttons & kModifierMask) &&
        listener->controlModifierClicked(context, this, buttons) != 0)
        return;
    if (!(buttons & kMouseLeft)) return;

    CFrame* frame = getFrame();
    if ((frame && frame->getFocusView() == this) || field) return;

    if (style & kDoubleClickStyle) {
        // Unsigned tick arithmetic keeps the test right across the wrap of
        // the tick counter.
        const uint32_t t = platform::clock().ticks();
        if (!clickPending || t - lastClickTicks >= static_cast<uint32_t>(doubleClickDelay)) {
            lastClickTicks = t;
            clickPending = true;
            return;
        }
        clickPending = false;
    }

    beginEdit();
    editBracketOpen = true;
    takeFocus(context);
}

platform::TextFieldSetup CTextEdit::fieldSetup(CDrawContext* context) const {
    platform::TextFieldSetup setup;
    // The control's position in the frame's window: its own rectangle plus
    // the origin of every container above it.
    CPoint pos = size.topLeft();
    for (CView* p = getParentView(); p; p = p->getParentView()) {
        if (p->notify(const_cast<CTextEdit*>(this), kMsgCheckIfViewContainer) == 1)
            pos = pos + p->getViewSize().topLeft();
    }
    if (context) pos = pos + context->getOffset();
    CFrame* frame = getFrame();
    // The field covers the control's pixels, and its text is as large as
    // the panel's at the frame's factor.
    const double scale = frame ? frame->getScale() : 1.0;
    setup.screenRect = density::toDevice(CRect(pos, CPoint(size.width(), size.height())), scale);
    platform::NativeWindow* window = frame ? frame->getPlatformWindow() : nullptr;
    if (window) setup.screenRect.offset(window->screenOrigin());

    setup.text = textBuffer;
    // The field's font: the table's face at weight 400, no larger than the
    // control's height - 2 (at least one pixel).
    setup.font = platform::FontDesc{};
    setup.font.face = fontFace(fontId);
    setup.font.pixelHeight =
        std::max(1, density::toDevice(std::min(fontPixelHeight(fontId), size.height() - 2), scale));
    setup.font.bold = false;
    switch (horiAlign) {
        case 0:
            setup.align = platform::TextAlign::left;
            break;
        case 2:
            setup.align = platform::TextAlign::right;
            break;
        default:
            setup.align = platform::TextAlign::center;
            break;
    }
    setup.fontColor = fontColor;
    setup.backColor = backColor;
    setup.maxCharacters = kMaxTextLength;
    return setup;
}

void CTextEdit::takeFocus(CDrawContext* context) {
    if (field) return;
    returnPressed = false;
    CFrame* frame = getFrame();
    platform::NativeWindow* window = frame ? frame->getPlatformWindow() : nullptr;
    if (!window) return;
    const platform::TextFieldSetup setup = fieldSetup(context);
    field = platform::createTextField(*window, setup, fieldEvents);
}

void CTextEdit::loseFocus(CDrawContext* context) {
    // Clearing the frame's focus and destroying the field can both report
    // the end of this edit again; the first report does all the work.
    if (closing) return;
    closing = true;
    if (editBracketOpen) {
        editBracketOpen = false;
        endEdit();
    }
    CFrame* frame = getFrame();
    if (frame && frame->getFocusView() == this) frame->setFocusView(nullptr);
    if (field) closeField(context);
    closing = false;
}

void CTextEdit::closeField(CDrawContext* context) {
    // The text to compare with is what the control shows for its value now:
    // the value may have moved (automation) while the field was open, and
    // typing the old text must then still count as a change.
    char previous[kBufferSize];
    char shown[256] = {};
    if (editConvertWithData || editConvert) {
        std::memcpy(shown, textBuffer, kBufferSize);  // the text is the control's content
    } else if (stringConvertWithData) {
        stringConvertWithData(loadValue(), shown, userData);
    } else if (stringConvert) {
        stringConvert(loadValue(), shown);
    } else {
        std::memcpy(shown, textBuffer, kBufferSize);
    }
    shown[sizeof(shown) - 1] = 0;
    copyLimited(previous, shown);
    const std::string entered = field->text();
    copyLimited(textBuffer, entered.c_str());
    field.reset();

    CFrame* frame = getFrame();
    CDrawContext* ctx = context;
    CPoint savedOffset;
    bool offsetChanged = false;
    if (ctx) {
        ctx->remember();
    } else if (frame) {
        ctx = frame->createDrawContext();
        if (ctx && getParentView()) {
            // Let the listener draw with the parent's frame position.
            CView* parent = getParentView();
            CPoint origin;
            parent->localToFrame(origin);
            savedOffset = ctx->getOffset();
            ctx->setOffset(origin + parent->getViewSize().topLeft());
            offsetChanged = true;
        }
    }

    const bool changed = std::strcmp(previous, textBuffer) != 0;
    if (changed && listener) listener->valueChanged(ctx, this);
    if (ctx) {
        if (offsetChanged) ctx->setOffset(savedOffset);
        ctx->forget();
    }
    setDirty(true);
    if (changed) pumpIdle();

    if (CView* parent = getParentView())
        parent->notify(this, kMsgLooseFocus);
    else if (frame)
        frame->notify(this, kMsgLooseFocus);
}

// Committing calls into the host, which may close the editor: the frame
// (and this control in it) stays until the report is done.
void CTextEdit::FieldEvents::textFieldReturn() {
    CFrame::Scope keep(edit.getFrame());
    edit.returnPressed = true;
    edit.loseFocus(nullptr);
}

void CTextEdit::FieldEvents::textFieldFocusLost() {
    CFrame::Scope keep(edit.getFrame());
    edit.loseFocus(nullptr);
}

}  // namespace VSTGUI
