// A parameter display that the user can type into. A click (or a double
// click with kDoubleClickStyle) opens a native single-line field over the
// control; Return, the field losing the keyboard focus or the frame moving
// its focus away ends the edit. The entered text becomes the control's text,
// the listener is told when it changed, and the parent (or the frame)
// receives "LooseFocus". The value is never changed by editing: the listener
// reads the text and converts it.
//
// States: idle (no field) -> editing (field open, focus view, inside an edit
// bracket) -> idle. Closing is guarded against re-entry: destroying the field
// or clearing the frame's focus may report the end of the edit a second
// time, and that report is ignored, so each edit commits, tells the listener
// and sends "LooseFocus" exactly once.
#pragma once

#include <memory>

#include "vstgui/cparamdisplay.h"
#include "vstgui/platform/text_field.h"

namespace VSTGUI {

// Sent to the parent (or the frame) when an edit ends.
extern const char kMsgLooseFocus[];

// Text conversions of the edit; the out buffer holds 256 bytes.
using CTextEditConvert = void (*)(char* text, char* displayText);
using CTextEditConvertWithData = void (*)(char* text, char* displayText, void* userData);

class CTextEdit : public CParamDisplay {
  public:
    static constexpr int32_t kMaxTextLength = 255;

    CTextEdit(const CRect& size, CControlListener* listener, int32_t tag,
              const char* text = nullptr, CBitmap* background = nullptr, int32_t style = 0);
    ~CTextEdit() override;

    void draw(CDrawContext* context) override;
    void onMouseDown(CDrawContext* context, const CPoint& where, int32_t buttons) override;
    void loseFocus(CDrawContext* context) override;
    void takeFocus(CDrawContext* context) override;
    bool isTypeOf(const char* name) const override;

    // Null empties the text. Text longer than 255 bytes is cut at a
    // character boundary.
    virtual void setText(const char* newText);
    // Copies the text into `out` (at least 256 bytes).
    virtual void getText(char* out) const;
    virtual void setEditConvertWithData(CTextEditConvertWithData convert, void* data);
    virtual void setEditConvert(CTextEditConvert convert);

    const char* text() const { return textBuffer; }
    bool isEditing() const { return field != nullptr; }
    bool wasReturnPressed() const { return returnPressed; }

    // Where the field goes and how it looks, for the control in its current
    // place (screen pixels, font capped to the control's height - 2).
    platform::TextFieldSetup fieldSetup(CDrawContext* context) const;

  protected:
    void closeField(CDrawContext* context);

    // Receives the field's reports; they come from the owner window's event
    // processing on the user-interface thread.
    class FieldEvents : public platform::TextFieldEvents {
      public:
        explicit FieldEvents(CTextEdit& owner) : edit(owner) {}
        void textFieldReturn() override;
        void textFieldFocusLost() override;

      private:
        CTextEdit& edit;
    };

    FieldEvents fieldEvents{*this};
    std::unique_ptr<platform::TextField> field;
    bool returnPressed = false;
    bool editBracketOpen = false;
    bool closing = false;
    char textBuffer[kMaxTextLength + 1] = {};
    CTextEditConvert editConvert = nullptr;
    CTextEditConvertWithData editConvertWithData = nullptr;
};

}  // namespace VSTGUI
