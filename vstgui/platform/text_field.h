// The native single-line text entry that a text edit control opens over
// itself while the user types.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "vstgui/ccolor.h"
#include "vstgui/geometry.h"
#include "vstgui/platform/draw_device.h"

namespace VSTGUI::platform {

class NativeWindow;

class TextFieldEvents {
  public:
    virtual ~TextFieldEvents() = default;
    // The user pressed Return.
    virtual void textFieldReturn() = 0;
    // The field lost the keyboard focus (a click elsewhere, another window).
    virtual void textFieldFocusLost() = 0;
};

struct TextFieldSetup {
    CRect screenRect;       // where the field appears, screen pixels
    const char* text = "";  // initial text, all of it selected
    FontDesc font;          // weight 400, the caller caps the height
    TextAlign align = TextAlign::center;
    CColor fontColor;
    CColor backColor;
    int32_t maxCharacters = 255;
};

// Contract: the field is a top-level window over the control with the
// keyboard focus; typing edits it (characters, Backspace, Delete, Left,
// Right, Home, End, Ctrl+A; typing replaces a selection) up to
// maxCharacters. Escape is an ordinary key. Events are delivered from the
// owner window's event processing, never after the field is destroyed.
class TextField {
  public:
    // Closes the field and gives the keyboard focus back.
    virtual ~TextField() = default;
    virtual std::string text() const = 0;
};

// Null when the field cannot be created.
std::unique_ptr<TextField> createTextField(NativeWindow& owner, const TextFieldSetup& setup,
                                           TextFieldEvents& events);

}  // namespace VSTGUI::platform
