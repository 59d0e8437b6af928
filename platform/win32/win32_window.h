// The frame's native window on Win32: a child window of the host's window
// of the module's class "Plugin<module address>". Messages arrive through
// the host's message loop (or the editor's idle pump, which dispatches one
// pending WM_PAINT) on the thread that created the window.
//
// The window also holds what the frame needs from the system for its life:
// OLE for drag and drop on this thread, and the blending library.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "vstgui/platform/native_window.h"

namespace VSTGUI::platform::win32 {

class Win32Window final : public NativeWindow {
  public:
    // Null when the window cannot be created.
    static std::unique_ptr<Win32Window> create(HWND parent, int32_t width, int32_t height,
                                               WindowEvents& events);
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    HWND hwnd() const { return hwnd_; }
    bool destroyed() const { return destroyed_; }

    void* handle() const override { return hwnd_; }
    std::unique_ptr<DrawDevice> createDevice() override;
    CPoint screenOrigin() override;
    CPoint pointerPosition() override;
    int32_t mouseButtons() override;
    void setCursor(CursorShape shape) override;
    void resize(int32_t width, int32_t height) override;
    bool resizeWithAncestors(int32_t width, int32_t height) override;
    bool hostWindowPosition(CPoint& position) override;
    bool parentWindowRect(CRect& rect) override;
    void processEvents() override;
    void processOnePaint() override;

    // The cursor that setCursor(arrow) restores; null before the first call.
    HCURSOR defaultCursor() const { return defaultCursor_; }

    // The live button mask for a key-state reader (tests pass their own):
    // a key is down when the reader answers a negative value.
    using KeyStateReader = SHORT(WINAPI*)(int);
    static int32_t buttonMask(KeyStateReader read, bool swapped);

  private:
    Win32Window(WindowEvents& events) : events_(events) {}
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void paint();

    WindowEvents& events_;
    HWND hwnd_ = nullptr;
    bool destroyed_ = false;
    bool oleStarted_ = false;
    HCURSOR defaultCursor_ = nullptr;
    // Cleared by the destructor; message handlers check it after calling
    // the owner, which may have destroyed this object meanwhile.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The text field's answer to WM_CTLCOLOREDIT for its edit window: sets the
// colours on `dc` and returns the brush, or null when `edit` is not a field.
HBRUSH textFieldColors(HWND edit, HDC dc);

}  // namespace VSTGUI::platform::win32
