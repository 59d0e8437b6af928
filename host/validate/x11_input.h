// A user's hands on the X server the editor draws on: pointer moves, button
// presses and keys as the server's input (XTest, loaded from libXtst when the
// system has it, so kv23 needs no more than Xlib), and the few facts about
// windows that a check of the editor's reactions reads (where a window lies,
// its first child, its top-level windows, a window-valued property).
//
// An input belongs to one process: after fork the child opens its own.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kv::validate {

// Where a drag may find a control on an editor, as fractions of its width
// and height: down the middle first, then the sides.
std::vector<std::pair<double, double>> dragPoints();

class XInput {
  public:
    // Null (and the reason in `why`) without a display or without XTest.
    static std::unique_ptr<XInput> open(std::string& why);
    ~XInput();
    XInput(const XInput&) = delete;
    XInput& operator=(const XInput&) = delete;

    // Each takes effect on the server before it returns.
    void moveTo(int rootX, int rootY);
    void button(unsigned int number, bool down);
    // A key by its keysym name ("1", "Return", "Up").
    void key(const char* name);

    // Whether the pointer is over `window` or one of its descendants: input
    // goes only there, never to a user's other windows on a shared display.
    bool pointerIn(unsigned long window);
    // Whether the keyboard focus is on an override-redirect window (a
    // text field's popup), where typed keys may go.
    bool focusOnPopup();

    // The window's top-left corner on the screen.
    bool origin(unsigned long window, int& rootX, int& rootY);
    unsigned long firstChild(unsigned long window);
    // The number of windows directly below the root (an editor's text
    // field is one of its own).
    int topLevelCount();
    // A property of type WINDOW, or 0; `present` says whether the property
    // exists with any type.
    unsigned long windowProperty(unsigned long window, const char* name, bool* present = nullptr);

  private:
    XInput() = default;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kv::validate
