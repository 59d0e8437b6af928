// A host, an effect and a clock for testing the editor base and the frame's
// conversations with the host.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "plugin/aeffguieditor.h"
#include "vst/audioeffectx.h"
#include "vstgui/cframe.h"
#include "vstgui/platform/clock.h"

namespace viewtest {

// What the host was asked, and what it answers.
struct FakeHost {
    static inline std::map<int32_t, int32_t> calls;
    static inline std::vector<int32_t> editIndices;  // begin as +index + 1, end as -(index + 1)
    static inline bool canSizeWindow = true;
    static inline bool acceptsSize = true;
    static inline std::function<void()> onIdle;

    static void reset() {
        calls.clear();
        editIndices.clear();
        canSizeWindow = true;
        acceptsSize = true;
        onIdle = nullptr;
    }

    static intptr_t callback(AEffect*, int32_t opcode, int32_t index, intptr_t, void* ptr, float) {
        ++calls[opcode];
        switch (opcode) {
            case audioMasterVersion:
                return 2400;
            case audioMasterIdle:
                if (onIdle) onIdle();
                return 1;
            case audioMasterBeginEdit:
                editIndices.push_back(index + 1);
                return 1;
            case audioMasterEndEdit:
                editIndices.push_back(-(index + 1));
                return 1;
            case audioMasterCanDo:
                return ptr && std::strcmp(static_cast<const char*>(ptr), "sizeWindow") == 0 &&
                               canSizeWindow
                           ? 1
                           : 0;
            case audioMasterSizeWindow:
                return acceptsSize ? 1 : 0;
            default:
                return 0;
        }
    }
};

class SilentEffect : public AudioEffectX {
  public:
    SilentEffect() : AudioEffectX(&FakeHost::callback, 0, 1) {}
    void processReplacing(float**, float**, int32_t) override {}
};

// The editor base with a frame on a headless window, opened by hand.
class TestEditor : public AEffGUIEditor {
  public:
    explicit TestEditor(AudioEffect* owner) : AEffGUIEditor(owner) {}
    ~TestEditor() override { close(); }

    void openFrame(const VSTGUI::CRect& r, void* parent) {
        frame = new VSTGUI::CFrame(r, parent, this);
    }
    void close() override {
        VSTGUI::CFrame* f = frame;
        frame = nullptr;
        delete f;
    }
    void idle() override {
        ++idles;
        AEffGUIEditor::idle();
    }
    int32_t idles = 0;
};

// Time that moves only when the test (or a sleep) moves it.
class TestClock : public VSTGUI::platform::Clock {
  public:
    explicit TestClock(uint32_t start = 10000) : now(start) { VSTGUI::platform::setClock(this); }
    ~TestClock() override { VSTGUI::platform::setClock(nullptr); }
    uint32_t ticks() override { return now; }
    void sleep(uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        now += milliseconds;
    }
    int32_t doubleClickTime() override { return 250; }

    uint32_t now;
    std::vector<uint32_t> sleeps;
};

}  // namespace viewtest
