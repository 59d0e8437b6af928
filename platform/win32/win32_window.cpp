#include "platform/win32/win32_window.h"

#include <ole2.h>
#include <windowsx.h>

#include <cstdlib>
#include <cstring>

#include "platform/win32/gdi_device.h"
#include "platform/win32/win32_shared.h"
#include "vstgui/ccolor.h"

namespace VSTGUI::platform {

namespace {

// GetDpiForWindow exists from Windows 10 1607 on: looked up at run time, so
// that the plug-in still loads on older systems (which then stay at 1).
UINT dpiOf(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    return getDpi && window ? getDpi(window) : 0;
}

}  // namespace

// The DPI Windows gives the host's window over 96. A host that is not DPI
// aware gets 96 (Windows stretches its windows itself) and the panel 1.
double desktopScale(void* parent) {
    const UINT dpi = dpiOf(static_cast<HWND>(parent));
    return dpi > 0 ? dpi / 96.0 : 0.0;
}

std::unique_ptr<NativeWindow> createChildWindow(void* parent, int32_t width, int32_t height,
                                                WindowEvents& events) {
    return win32::Win32Window::create(static_cast<HWND>(parent), width, height, events);
}

namespace win32 {

namespace {

// Decoration larger than this around a child means the window above is
// not a plain frame around us: the resize walk stops there.
constexpr int kMostDecoration = 80;
// A parent this much larger than our window is the host's own layout, not
// a decoration frame made for us.
constexpr int kTopWindowSlack = 60;

int rectWidth(const RECT& r) {
    return r.right - r.left;
}
int rectHeight(const RECT& r) {
    return r.bottom - r.top;
}

void resizeKeepingPosition(HWND window, int width, int height) {
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LPCSTR systemCursor(CursorShape shape) {
    switch (shape) {
        case CursorShape::wait:
            return IDC_WAIT;
        case CursorShape::resizeHorizontal:
            return IDC_SIZEWE;
        case CursorShape::resizeVertical:
            return IDC_SIZENS;
        case CursorShape::move:
            return IDC_SIZEALL;
        case CursorShape::resizeNESW:
            return IDC_SIZENESW;
        case CursorShape::resizeNWSE:
            return IDC_SIZENWSE;
        case CursorShape::forbidden:
            return IDC_NO;
        case CursorShape::hand:
            return IDC_HAND;
        case CursorShape::arrow:
            break;
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<Win32Window> Win32Window::create(HWND parent, int32_t width, int32_t height,
                                                 WindowEvents& events) {
    if (!parent || !IsWindow(parent)) return nullptr;
    std::unique_ptr<Win32Window> w(new Win32Window(events));
    // Drag and drop needs OLE on this thread; a host that started it in
    // another mode (S_FALSE, RPC_E_CHANGED_MODE) keeps its own start.
    w->oleStarted_ = SUCCEEDED(OleInitialize(nullptr));
    acquireBlendLibrary();
    const char* className = acquireWindowClass(&Win32Window::windowProc);
    if (!className) return nullptr;  // the destructor gives back OLE and the library
    w->hwnd_ = CreateWindowExA(0, className, "Window",
                               WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                               width, height, parent, nullptr, moduleInstance(), nullptr);
    if (!w->hwnd_) {
        releaseWindowClass();
        return nullptr;
    }
    SetWindowLongPtrA(w->hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w.get()));
    return w;
}

Win32Window::~Win32Window() {
    *alive_ = false;
    if (hwnd_) {
        // Messages sent while the window is destroyed must not reach us.
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        if (!destroyed_) DestroyWindow(hwnd_);
        releaseWindowClass();
    }
    releaseBlendLibrary();
    if (oleStarted_) OleUninitialize();
}

LRESULT CALLBACK Win32Window::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self || self->hwnd_ != hwnd) return DefWindowProcA(hwnd, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT Win32Window::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND hwnd = hwnd_;
    switch (message) {
        case WM_DESTROY: {
            destroyed_ = true;
            std::shared_ptr<bool> alive = alive_;
            events_.windowDestroyed();
            if (*alive) SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
            return DefWindowProcA(hwnd, message, wParam, lParam);
        }
        case WM_PAINT: {
            RECT update{};
            if (!GetUpdateRect(hwnd, &update, FALSE)) break;
            paint();
            return 0;
        }
        case WM_CTLCOLOREDIT: {
            if (HBRUSH brush = textFieldColors(reinterpret_cast<HWND>(lParam),
                                               reinterpret_cast<HDC>(wParam))) {
                return reinterpret_cast<LRESULT>(brush);
            }
            break;
        }
        case WM_LBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_RBUTTONDOWN: {
            // The state of the press comes from the message itself: the
            // click can be over (button up again) before it is handled.
            const auto keys = static_cast<WORD>(wParam);
            int32_t pressed = 0;
            if (keys & MK_LBUTTON) pressed |= kMouseLeft;
            if (keys & MK_MBUTTON) pressed |= kMouseMiddle;
            if (keys & MK_RBUTTON) pressed |= kMouseRight;
            if (keys & MK_SHIFT) pressed |= kModShift;
            if (keys & MK_CONTROL) pressed |= kModControl;
            if (GetKeyState(VK_MENU) < 0) pressed |= kModAlt;
            events_.windowMouseDown(CPoint(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)), pressed);
            return 0;
        }
        case 0x02E3: {  // WM_DPICHANGED_AFTERPARENT: the host's window changed monitor
            const UINT dpi = dpiOf(hwnd);
            if (dpi > 0) events_.windowScaleChanged(dpi / 96.0);
            return 0;
        }
        case WM_MOUSEWHEEL: {
            // The position comes in screen coordinates, the delta in 120ths
            // of a notch.
            const CPoint screen(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
            const auto delta = static_cast<short>(HIWORD(wParam));
            const float distance = static_cast<float>(delta) / 120.0f;
            std::shared_ptr<bool> alive = alive_;
            events_.windowWheel(screen - screenOrigin(), 1, distance);
            if (!*alive) return 0;
            return DefWindowProcA(hwnd, message, wParam, lParam);
        }
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void Win32Window::paint() {
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(hwnd_, &ps);
    if (dc) {
        const CRect area(ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom);
        std::shared_ptr<bool> alive = alive_;
        {
            GdiDevice device(dc, GdiDevice::Ownership::borrowed);
            events_.windowPaint(device, area);
        }
        if (!*alive) return;
    }
    EndPaint(hwnd_, &ps);
}

std::unique_ptr<DrawDevice> Win32Window::createDevice() {
    HDC dc = destroyed_ ? nullptr : GetDC(hwnd_);
    return std::make_unique<GdiDevice>(
        dc, dc ? GdiDevice::Ownership::window : GdiDevice::Ownership::borrowed, hwnd_);
}

CPoint Win32Window::screenOrigin() {
    RECT r{};
    if (destroyed_ || !GetWindowRect(hwnd_, &r)) return CPoint();
    return CPoint(r.left, r.top);
}

CPoint Win32Window::pointerPosition() {
    POINT p{};
    GetCursorPos(&p);
    return CPoint(p.x, p.y);
}

int32_t Win32Window::buttonMask(KeyStateReader read, bool swapped) {
    auto down = [read](int key) { return read(key) < 0; };
    int32_t mask = 0;
    // The physical primary button is the logical right one when the user
    // swapped them.
    if (down(VK_LBUTTON)) mask |= swapped ? kMouseRight : kMouseLeft;
    if (down(VK_MBUTTON)) mask |= kMouseMiddle;
    if (down(VK_RBUTTON)) mask |= swapped ? kMouseLeft : kMouseRight;
    if (down(VK_SHIFT)) mask |= kModShift;
    if (down(VK_CONTROL)) mask |= kModControl;
    if (down(VK_MENU)) mask |= kModAlt;
    return mask;
}

int32_t Win32Window::mouseButtons() {
    return buttonMask(&GetAsyncKeyState, buttonsSwapped());
}

void Win32Window::setCursor(CursorShape shape) {
    if (!defaultCursor_) defaultCursor_ = GetCursor();
    LPCSTR name = systemCursor(shape);
    HCURSOR cursor = name ? LoadCursorA(nullptr, name) : defaultCursor_;
    SetCursor(cursor ? cursor : defaultCursor_);
}

void Win32Window::resize(int32_t width, int32_t height) {
    if (!destroyed_) resizeKeepingPosition(hwnd_, width, height);
}

bool Win32Window::resizeWithAncestors(int32_t width, int32_t height) {
    if (destroyed_) return true;
    const int limit = 2 * GetSystemMetrics(SM_CYDLGFRAME);
    int dx = 0;
    int dy = 0;
    HWND current = hwnd_;
    if (limit != 0) {
        // Each ancestor that only decorates its child grows by the
        // decoration it adds; a multiple-document client area, a window
        // with a standard dialog frame, or one whose decoration looks too
        // large ends the walk.
        for (;;) {
            HWND parent = GetParent(current);
            if (!parent) break;
            char name[1024] = {};
            GetClassNameA(parent, name, sizeof name);
            if (std::strcmp(name, "MDIClient") == 0) break;
            RECT mine{};
            RECT theirs{};
            GetWindowRect(current, &mine);
            GetWindowRect(parent, &theirs);
            resizeKeepingPosition(current, width + dx, height + dy);
            dx += rectWidth(theirs) - rectWidth(mine);
            dy += rectHeight(theirs) - rectHeight(mine);
            if (dx > kMostDecoration || dy > kMostDecoration) return false;
            if (dx < 0) dx = 0;
            if (dy < 0) dy = 0;
            current = parent;
            if (dx == limit) break;
        }
    }
    resizeKeepingPosition(current, width + dx, height + dy);
    return true;
}

bool Win32Window::hostWindowPosition(CPoint& position) {
    if (destroyed_) return false;
    RECT ours{};
    GetWindowRect(hwnd_, &ours);
    HWND top = hwnd_;
    for (;;) {
        HWND parent = GetParent(top);
        if (!parent || (GetWindowLongA(top, GWL_STYLE) & WS_CAPTION) != 0) break;
        RECT r{};
        GetWindowRect(parent, &r);
        if (std::abs(rectWidth(r) - rectWidth(ours)) > kTopWindowSlack ||
            std::abs(rectHeight(r) - rectHeight(ours)) > kTopWindowSlack) {
            break;
        }
        top = parent;
    }
    RECT r{};
    GetWindowRect(top, &r);
    POINT p{r.left, r.top};
    MapWindowPoints(HWND_DESKTOP, GetParent(top), &p, 1);
    position = CPoint(p.x, p.y);
    return true;
}

bool Win32Window::parentWindowRect(CRect& rect) {
    if (destroyed_) return false;
    HWND parent = GetParent(hwnd_);
    if (!parent) return false;
    RECT r{};
    GetWindowRect(parent, &r);
    POINT corner{r.left, r.top};
    MapWindowPoints(HWND_DESKTOP, GetParent(parent), &corner, 1);
    rect = CRect(corner.x, corner.y, corner.x + rectWidth(r), corner.y + rectHeight(r));
    return true;
}

void Win32Window::processEvents() {
    // Messages come through the host's message loop.
}

void Win32Window::processOnePaint() {
    MSG msg{};
    if (PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageA(&msg);
}

}  // namespace win32
}  // namespace VSTGUI::platform
