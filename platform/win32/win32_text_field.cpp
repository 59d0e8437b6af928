// The text entry of a text edit control on Win32: a top-level pop-up "EDIT"
// window laid over the control (not a child of the frame window, so that it
// can take the keyboard focus inside any host). Its window procedure is
// replaced by ours to hear Return and the loss of focus, and to keep every
// key for itself when it sits inside a host's dialog.
//
// Reports to the owner are the last thing a handler does: the owner usually
// destroys the field from inside the report, after which the edit window's
// own procedure must not run any more.
#include <windows.h>

#include <memory>
#include <string>

#include "platform/win32/gdi_device.h"
#include "platform/win32/win32_shared.h"
#include "platform/win32/win32_window.h"
#include "vstgui/platform/text_field.h"

namespace VSTGUI::platform {

namespace win32 {
namespace {

// The EDIT class's own procedure, the same for every field of the module.
WNDPROC editProcedure = nullptr;

class Win32TextField final : public TextField {
  public:
    Win32TextField(TextFieldEvents& events, const TextFieldSetup& setup)
        : events_(events),
          maxCharacters_(setup.maxCharacters > 0 ? setup.maxCharacters : 255),
          textColor_(toColorRef(setup.fontColor)),
          backColor_(toColorRef(setup.backColor)) {}

    ~Win32TextField() override {
        *alive_ = false;
        if (edit_) {
            // Destroying the focused field sends WM_KILLFOCUS: that is not
            // the user leaving it, so it must not reach the owner.
            SetWindowLongPtrA(edit_, GWLP_USERDATA, 0);
            DestroyWindow(edit_);
        }
        if (font_) DeleteObject(font_);
        if (brush_) DeleteObject(brush_);
        if (previousFocus_ && IsWindow(previousFocus_)) SetFocus(previousFocus_);
    }

    bool open(const TextFieldSetup& setup) {
        DWORD style = WS_POPUP | WS_VISIBLE | ES_AUTOHSCROLL;
        if (setup.align == TextAlign::left) {
            style |= ES_LEFT;
        } else if (setup.align == TextAlign::right) {
            style |= ES_RIGHT;
        } else {
            style |= ES_CENTER;
        }
        const CRect& r = setup.screenRect;
        previousFocus_ = GetFocus();
        edit_ = CreateWindowExA(0, "EDIT", setup.text ? setup.text : "", style, r.left, r.top,
                                r.width(), r.height(), nullptr, nullptr, moduleInstance(), nullptr);
        if (!edit_) return false;
        LOGFONTA lf = makeLogFont(setup.font);
        lf.lfWeight = FW_NORMAL;
        lf.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
        font_ = CreateFontIndirectA(&lf);
        brush_ = CreateSolidBrush(backColor_);
        SetWindowLongPtrA(edit_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SendMessageA(edit_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
        SendMessageA(edit_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
        SendMessageA(edit_, EM_SETSEL, 0, -1);
        SendMessageA(edit_, EM_LIMITTEXT, static_cast<WPARAM>(maxCharacters_), 0);
        const auto previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32TextField::procedure)));
        if (!editProcedure) editProcedure = previous;
        SetFocus(edit_);
        return true;
    }

    std::string text() const override {
        if (!edit_) return {};
        std::string buffer(static_cast<size_t>(maxCharacters_) + 1, '\0');
        const int n = GetWindowTextA(edit_, buffer.data(), maxCharacters_ + 1);
        buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return buffer;
    }

    HBRUSH colors(HDC dc) const {
        SetTextColor(dc, textColor_);
        SetBkColor(dc, backColor_);
        return brush_;
    }

    // The field behind `edit` when it is one of ours, else null.
    static Win32TextField* fieldOf(HWND edit) {
        const auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(edit, GWLP_WNDPROC));
        return proc == &Win32TextField::procedure ? of(edit) : nullptr;
    }

    static Win32TextField* of(HWND edit) {
        return reinterpret_cast<Win32TextField*>(GetWindowLongPtrA(edit, GWLP_USERDATA));
    }

  private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        Win32TextField* field = of(hwnd);
        switch (message) {
            case WM_GETDLGCODE:
                // Return, Tab and Escape belong to the field, not to a
                // dialog of the host around it.
                return DLGC_WANTALLKEYS;
            case WM_CTLCOLOREDIT:
                // A field without a parent asks itself for its colours.
                if (field)
                    return reinterpret_cast<LRESULT>(field->colors(reinterpret_cast<HDC>(wParam)));
                break;
            case WM_KILLFOCUS:
                if (field) {
                    std::shared_ptr<bool> alive = field->alive_;
                    field->events_.textFieldFocusLost();
                    if (!*alive) return 0;
                }
                break;
            case WM_KEYDOWN:
                if (wParam == VK_RETURN && field) {
                    std::shared_ptr<bool> alive = field->alive_;
                    field->events_.textFieldReturn();
                    if (!*alive) return 0;
                }
                break;
            case WM_CHAR:
                // The EDIT control beeps at Return in a single-line field.
                if (wParam == '\r' || wParam == '\n') return 0;
                break;
            default:
                break;
        }
        return editProcedure ? CallWindowProcA(editProcedure, hwnd, message, wParam, lParam)
                             : DefWindowProcA(hwnd, message, wParam, lParam);
    }

    TextFieldEvents& events_;
    int32_t maxCharacters_;
    COLORREF textColor_;
    COLORREF backColor_;
    HWND edit_ = nullptr;
    HWND previousFocus_ = nullptr;
    HFONT font_ = nullptr;
    HBRUSH brush_ = nullptr;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace

HBRUSH textFieldColors(HWND edit, HDC dc) {
    if (!edit || !IsWindow(edit)) return nullptr;
    Win32TextField* field = Win32TextField::fieldOf(edit);
    return field ? field->colors(dc) : nullptr;
}

}  // namespace win32

std::unique_ptr<TextField> createTextField(NativeWindow& /*owner*/, const TextFieldSetup& setup,
                                           TextFieldEvents& events) {
    auto field = std::make_unique<win32::Win32TextField>(events, setup);
    if (!field->open(setup)) return nullptr;
    return field;
}

}  // namespace VSTGUI::platform
