// A host, an effect and a clock for testing the editor base and the frame's
// conversations with the host.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "tests/support/host_recorder.h"
#include "tests/support/test_clock.h"
#include "vst2/aeffguieditor.h"
#include "vst2/base/audioeffectx.h"
#include "vstgui/cframe.h"

namespace kvtest {

// The recording host with the answers the editor base asks for: whether
// the host can size the window and accepts a size; onIdle runs inside
// audioMasterIdle.
struct FakeHost : kvtest::HostRecorder {
    FakeHost() {
        answer = [this](const kvtest::HostCall& c) -> intptr_t {
            switch (c.opcode) {
                case audioMasterVersion:
                    return 2400;
                case audioMasterIdle:
                    if (onIdle) onIdle();
                    return 1;
                case audioMasterBeginEdit:
                case audioMasterEndEdit:
                    return 1;
                case audioMasterCanDo:
                    return c.ptr &&
                                   std::strcmp(static_cast<const char*>(c.ptr), "sizeWindow") ==
                                       0 &&
                                   canSizeWindow
                               ? 1
                               : 0;
                case audioMasterSizeWindow:
                    return acceptsSize ? 1 : 0;
                default:
                    return 0;
            }
        };
    }
    // The edit bracket: begin as +(index + 1), end as -(index + 1).
    std::vector<int32_t> editIndices() const {
        std::vector<int32_t> out;
        for (const kvtest::HostCall& c : snapshot()) {
            if (c.opcode == audioMasterBeginEdit) out.push_back(c.index + 1);
            if (c.opcode == audioMasterEndEdit) out.push_back(-(c.index + 1));
        }
        return out;
    }

    bool canSizeWindow = true;
    bool acceptsSize = true;
    std::function<void()> onIdle;
};

class SilentEffect : public AudioEffectX {
  public:
    SilentEffect() : AudioEffectX(&kvtest::HostRecorder::callback, 0, 1) {}
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

}  // namespace kvtest
