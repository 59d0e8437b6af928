// The Win32 frame window, text field and drop target against real windows
// and real OLE drags (under Wine in the suite).
#include <gtest/gtest.h>
#include <ole2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "drag_source.h"
#include "platform/win32/win32_shared.h"
#include "platform/win32/win32_window.h"
#include "vstgui/ccolor.h"
#include "vstgui/platform/clock.h"
#include "vstgui/platform/drop_target.h"
#include "vstgui/platform/text_field.h"

using namespace VSTGUI;
using namespace VSTGUI::platform;
using win32::Win32Window;

namespace {

struct Recorder final : WindowEvents {
    std::vector<CPoint> clicks;
    std::vector<int32_t> clickButtons;
    std::vector<std::pair<CPoint, float>> wheels;
    int paints = 0;
    int destroyed = 0;
    void windowPaint(DrawDevice&, const CRect&) override { ++paints; }
    void windowMouseDown(CPoint where, int32_t buttons) override {
        clicks.push_back(where);
        clickButtons.push_back(buttons);
    }
    void windowWheel(CPoint where, int32_t axis, float distance) override {
        if (axis == 1) wheels.emplace_back(where, distance);
    }
    void windowDestroyed() override { ++destroyed; }
};

// A plain window of ours: popup (no caption) or child, at x, y of w x h.
HWND plainWindow(HWND parent, int x, int y, int w, int h) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "kvPlainTestWindow";
        RegisterClassA(&wc);
        registered = true;
    }
    const DWORD style = (parent ? WS_CHILD : WS_POPUP) | WS_VISIBLE;
    return CreateWindowExA(0, "kvPlainTestWindow", "", style, x, y, w, h, parent, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

SIZE sizeOf(HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

void pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// GetAsyncKeyState stand-ins: only the keys listed are down.
SHORT WINAPI leftAndShift(int key) {
    return (key == VK_LBUTTON || key == VK_SHIFT) ? SHORT(-32768) : SHORT(0);
}
SHORT WINAPI rightMiddleControlAlt(int key) {
    return (key == VK_RBUTTON || key == VK_MBUTTON || key == VK_CONTROL || key == VK_MENU)
               ? SHORT(-32768)
               : SHORT(0);
}

}  // namespace

TEST(Win32Window, ButtonMaskAppliesSwappedButtons) {
    EXPECT_TRUE(Win32Window::buttonMask(&leftAndShift, false) == (kMouseLeft | kModShift));
    EXPECT_TRUE(Win32Window::buttonMask(&leftAndShift, true) == (kMouseRight | kModShift));
    EXPECT_TRUE(Win32Window::buttonMask(&rightMiddleControlAlt, false) ==
                (kMouseRight | kMouseMiddle | kModControl | kModAlt));
    EXPECT_TRUE(Win32Window::buttonMask(&rightMiddleControlAlt, true) ==
                (kMouseLeft | kMouseMiddle | kModControl | kModAlt));
}

TEST(Win32Window, WindowClassIsSharedAndReleasedWithTheLastWindow) {
    HWND host = plainWindow(nullptr, 0, 0, 300, 300);
    Recorder a, b;
    auto one = createChildWindow(host, 100, 50, a);
    auto two = createChildWindow(host, 100, 50, b);
    EXPECT_TRUE(one && two);
    if (!one || !two) return;
    char name[64] = {};
    GetClassNameA(static_cast<HWND>(one->handle()), name, sizeof name);
    char expected[64] = {};
    std::snprintf(expected, sizeof expected, "Plugin%p",
                  static_cast<void*>(win32::moduleInstance()));
    EXPECT_TRUE(std::string(name) == expected) << name;
    EXPECT_TRUE(win32::windowClassUseCount() == 2);
    EXPECT_TRUE(GetParent(static_cast<HWND>(one->handle())) == host);
    const LONG style = GetWindowLongA(static_cast<HWND>(one->handle()), GWL_STYLE);
    EXPECT_TRUE((style & (WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN)) ==
                (WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN));
    WNDCLASSA info{};
    one.reset();
    EXPECT_TRUE(GetClassInfoA(win32::moduleInstance(), expected, &info));
    two.reset();
    EXPECT_TRUE(!GetClassInfoA(win32::moduleInstance(), expected, &info));
    EXPECT_TRUE(win32::windowClassUseCount() == 0);
    EXPECT_TRUE(createChildWindow(nullptr, 10, 10, a) == nullptr);
    DestroyWindow(host);
}

TEST(Win32Window, MessagesBecomeClicksWheelsPaintsAndDestruction) {
    HWND host = plainWindow(nullptr, 40, 30, 300, 300);
    Recorder events;
    auto window = createChildWindow(host, 200, 100, events);
    ASSERT_TRUE(window != nullptr);
    HWND w = static_cast<HWND>(window->handle());
    SendMessageA(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(12, 34));
    SendMessageA(w, WM_RBUTTONDOWN, MK_RBUTTON | MK_SHIFT, MAKELPARAM(5, 6));
    EXPECT_TRUE(events.clicks.size() == 2 && events.clicks[0] == CPoint(12, 34) &&
                events.clicks[1] == CPoint(5, 6));
    // Each press carries its own buttons, whatever the live state is now.
    EXPECT_TRUE(events.clickButtons == (std::vector<int32_t>{kMouseLeft, kMouseRight | kModShift}));
    // The wheel arrives at a screen position, in 120ths of a notch.
    const CPoint origin = window->screenOrigin();
    EXPECT_TRUE(origin == CPoint(40, 30));
    SendMessageA(w, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-240)),
                 MAKELPARAM(40 + 7, 30 + 9));
    SendMessageA(w, WM_MOUSEWHEEL, MAKEWPARAM(0, 60), MAKELPARAM(40, 30));
    EXPECT_TRUE(events.wheels.size() == 2);
    if (events.wheels.size() == 2) {
        EXPECT_TRUE(events.wheels[0].first == CPoint(7, 9) && events.wheels[0].second == -2.0f);
        EXPECT_TRUE(events.wheels[1].second == 0.5f);
    }
    InvalidateRect(w, nullptr, FALSE);
    pump();
    EXPECT_TRUE(events.paints >= 1);
    const int before = events.paints;
    window->processOnePaint();  // nothing pending: nothing painted
    EXPECT_TRUE(events.paints == before);
    InvalidateRect(w, nullptr, FALSE);
    window->processOnePaint();
    EXPECT_TRUE(events.paints == before + 1);

    // The host destroys its window first: the frame hears it once, and
    // the window object can still be destroyed safely afterwards.
    DestroyWindow(host);
    EXPECT_TRUE(events.destroyed == 1);
    CPoint p;
    EXPECT_TRUE(!window->hostWindowPosition(p));
    window.reset();
    EXPECT_TRUE(events.destroyed == 1);
}

TEST(Win32Window, CursorArrowRestoresTheCursorFoundFirst) {
    HWND host = plainWindow(nullptr, 0, 0, 100, 100);
    Recorder events;
    auto window = createChildWindow(host, 50, 50, events);
    ASSERT_TRUE(window != nullptr);
    HCURSOR before = LoadCursorA(nullptr, IDC_CROSS);
    SetCursor(before);
    window->setCursor(CursorShape::hand);
    EXPECT_TRUE(GetCursor() == LoadCursorA(nullptr, IDC_HAND));
    window->setCursor(CursorShape::resizeNWSE);
    EXPECT_TRUE(GetCursor() == LoadCursorA(nullptr, IDC_SIZENWSE));
    window->setCursor(CursorShape::arrow);
    EXPECT_TRUE(GetCursor() == before);
    window.reset();
    DestroyWindow(host);
}

TEST(Win32Window, ResizeWalkGrowsDecorationFramesAndGivesUpOnLargeOnes) {
    const int frame = GetSystemMetrics(SM_CYDLGFRAME);
    if (frame <= 0) return;  // the walk is skipped without a dialog frame
    const int limit = 2 * frame;
    // A host popup holding a decoration child `limit` larger than our window.
    HWND top = plainWindow(nullptr, 50, 60, 400, 500);
    HWND deco = plainWindow(top, 5, 5, 240 + limit, 400 + limit);
    Recorder events;
    auto window = createChildWindow(deco, 240, 400, events);
    ASSERT_TRUE(window != nullptr);
    EXPECT_TRUE(window->resizeWithAncestors(260, 420));
    SIZE ours = sizeOf(static_cast<HWND>(window->handle()));
    SIZE theirs = sizeOf(deco);
    EXPECT_TRUE(ours.cx == 260 && ours.cy == 420);
    EXPECT_TRUE(theirs.cx == 260 + limit && theirs.cy == 420 + limit)
        << std::to_string(theirs.cx) + "x" + std::to_string(theirs.cy);
    EXPECT_TRUE(sizeOf(top).cx == 400 && sizeOf(top).cy == 500);  // the walk stopped at the frame

    // A parent 100 pixels wider is not decoration: our window alone changes
    // and the caller is told the walk stopped.
    HWND wide = plainWindow(top, 0, 0, 340, 400);
    Recorder other;
    auto second = createChildWindow(wide, 240, 400, other);
    ASSERT_TRUE(second != nullptr);
    EXPECT_TRUE(!second->resizeWithAncestors(250, 410));
    EXPECT_TRUE(sizeOf(static_cast<HWND>(second->handle())).cx == 250);
    EXPECT_TRUE(sizeOf(wide).cx == 340 && sizeOf(wide).cy == 400);
    window.reset();
    second.reset();
    DestroyWindow(top);
}

TEST(Win32Window, HostPositionClimbsToTheWindowThatIsNotACloseFit) {
    // top (popup at 50, 60, 300 x 450) > middle (at 7, 8, 250 x 410) > ours 240 x 400:
    // both ancestors are within 60 pixels of our size, so top is the host's window.
    HWND top = plainWindow(nullptr, 50, 60, 300, 450);
    HWND middle = plainWindow(top, 7, 8, 250, 410);
    Recorder events;
    auto window = createChildWindow(middle, 240, 400, events);
    ASSERT_TRUE(window != nullptr);
    CPoint p;
    EXPECT_TRUE(window->hostWindowPosition(p));
    EXPECT_TRUE(p == CPoint(50, 60)) << std::to_string(p.h) + "," + std::to_string(p.v);
    CRect r;
    EXPECT_TRUE(window->parentWindowRect(r));  // middle, in top's client coordinates
    EXPECT_TRUE(r == CRect(7, 8, 257, 418));
    // A parent much larger than us is the host's layout: the answer stops below it.
    MoveWindow(top, 50, 60, 600, 450, TRUE);
    EXPECT_TRUE(window->hostWindowPosition(p) && p == CPoint(7, 8));
    window.reset();
    DestroyWindow(top);
}

namespace {
struct FieldEvents final : TextFieldEvents {
    int returns = 0;
    int focusLost = 0;
    void textFieldReturn() override { ++returns; }
    void textFieldFocusLost() override { ++focusLost; }
};
}  // namespace

TEST(Win32Window, TextFieldIsASelectedPopupEditThatReportsReturn) {
    HWND host = plainWindow(nullptr, 0, 0, 200, 200);
    Recorder events;
    auto window = createChildWindow(host, 200, 200, events);
    ASSERT_TRUE(window != nullptr);
    FieldEvents fe;
    TextFieldSetup setup;
    setup.screenRect = CRect(30, 40, 90, 56);
    setup.text = "1.50";
    setup.fontColor = CColor{255, 255, 255, 255};
    setup.backColor = CColor{0, 0, 0, 255};
    auto field = createTextField(*window, setup, fe);
    ASSERT_TRUE(field != nullptr);
    HWND edit = GetFocus();
    char cls[16] = {};
    GetClassNameA(edit, cls, sizeof cls);
    EXPECT_TRUE(lstrcmpiA(cls, "Edit") == 0) << cls;
    EXPECT_TRUE((GetWindowLongA(edit, GWL_STYLE) & WS_POPUP) != 0 && GetParent(edit) == nullptr);
    DWORD from = 99, to = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    EXPECT_TRUE(from == 0 && to == 4);  // all of it selected
    EXPECT_TRUE(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0) == 255);
    EXPECT_TRUE(SendMessageA(edit, WM_GETDLGCODE, 0, 0) == DLGC_WANTALLKEYS);
    EXPECT_TRUE(field->text() == "1.50");
    SetWindowTextA(edit, "-3");
    EXPECT_TRUE(field->text() == "-3");
    // Colours: the field's own answer, white on black.
    HDC dc = GetDC(edit);
    const LRESULT brush = SendMessageA(edit, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(edit));
    EXPECT_TRUE(brush != 0 && GetTextColor(dc) == RGB(255, 255, 255) &&
                GetBkColor(dc) == RGB(0, 0, 0));
    ReleaseDC(edit, dc);
    SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(fe.returns == 1);
    SendMessageA(edit, WM_KILLFOCUS, 0, 0);
    EXPECT_TRUE(fe.focusLost == 1);
    // Closing the field is not the user leaving it.
    field.reset();
    EXPECT_TRUE(!IsWindow(edit) && fe.focusLost == 1);
    window.reset();
    DestroyWindow(host);
}

namespace {
struct DropRecorder final : DropEvents {
    std::vector<int32_t> enters;
    int moves = 0, leaves = 0, drops = 0;
    bool dragEnter(int32_t count) override {
        enters.push_back(count);
        return true;
    }
    bool dragMove() override {
        ++moves;
        return true;
    }
    void dragLeave() override { ++leaves; }
    bool drop() override {
        ++drops;
        return false;  // nothing takes it, as in the editor
    }
};
}  // namespace

TEST(Win32Window, OleDragsFromAnotherThreadCountFilesAndText) {
    HWND host = plainWindow(nullptr, 100, 100, 200, 200);
    Recorder events;
    auto window = createChildWindow(host, 200, 200, events);
    ASSERT_TRUE(window != nullptr);
    DropRecorder drops;
    auto target = registerDropTarget(*window, drops);
    EXPECT_TRUE(target != nullptr);
    pump();
    kvtest::DragOutcome files = kvtest::dragFromSecondThread(
        POINT{200, 200}, {"C:\\a.wav", "C:\\b.wav", "C:\\c.wav"}, "", 8);
    EXPECT_TRUE(drops.enters.size() == 1 && drops.enters[0] == 3)
        << (drops.enters.empty() ? "no enter" : std::to_string(drops.enters[0]));
    EXPECT_TRUE(drops.drops == 1 && drops.leaves == 0);
    EXPECT_TRUE(files.result == DRAGDROP_S_DROP && files.finalEffect == DROPEFFECT_NONE);
    EXPECT_TRUE((files.feedbackEffects & DROPEFFECT_MOVE) != 0);

    kvtest::DragOutcome text = kvtest::dragFromSecondThread(POINT{150, 150}, {}, "hello", 8);
    EXPECT_TRUE(drops.enters.size() == 2 && drops.enters.back() == 1);
    EXPECT_TRUE(text.result == DRAGDROP_S_DROP);
    target.reset();
    // Revoked: a third drag finds no target.
    kvtest::dragFromSecondThread(POINT{150, 150}, {"C:\\a.wav"}, "", 5);
    EXPECT_TRUE(drops.enters.size() == 2);
    window.reset();
    DestroyWindow(host);
}

TEST(Win32Window, ClockTicksAndDoubleClickTime) {
    const uint32_t a = VSTGUI::platform::clock().ticks();
    VSTGUI::platform::clock().sleep(100);
    const uint32_t b = VSTGUI::platform::clock().ticks();
    EXPECT_TRUE(b - a >= 60 && b - a < 1000) << std::to_string(b - a) + " ms";
    EXPECT_TRUE(VSTGUI::platform::clock().doubleClickTime() >= 250);
}

// The drag tests need OLE on the main thread, for the whole run.
int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    testing::InitGoogleTest(&argc, argv);
    OleInitialize(nullptr);
    const int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}
