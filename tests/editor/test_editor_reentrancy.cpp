// A host acting inside each of the calls the plug-in makes to it, during
// each gesture: it closes the editor, closes (deletes) the effect, or
// closes and reopens the editor before it returns. Every cell must end
// without touching freed memory (run it under ASan), with no host call
// after effClose or after effEditClose, with every begun gesture ended
// (an editor's close ends the one under way; after effClose nothing reaches
// the host), and with a whole editor after a reopen.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "editor_test_support.h"
#include "panel/brackenlume_knob.h"
#include "platform/headless/headless_window.h"
#include "vstgui/cframe.h"

namespace {

using namespace kvtest::panel;
using kvtest::Instance;
using VSTGUI::CPoint;
using VSTGUI::platform::HeadlessDropTarget;
using VSTGUI::platform::HeadlessWindow;

enum class Act { EditClose, Close, Reopen };

struct Gesture {
    const char* name;
    void (*run)(Instance& plugin, kvtest::TestClock& clock);
    bool needsFocus = false;  // on the gain knob, before the host acts
};

const Gesture kGestures[] = {
    {"drag",
     [](Instance& plugin, kvtest::TestClock&) {
         // The button stays down longer than the drag lasts: a close must
         // end the loop.
         const CPoint c = centre(kGainKnob);
         const CPoint up(c.h, c.v - 40);
         HeadlessWindow* window = HeadlessWindow::last();
         window->scriptPointer({{c, 1}, {c, 1}, {up, 1}, {up, 1}, {up, 1}, {up, 1}, {up, 0}});
         window->postClick(c);
         plugin.idle();
     }},
    {"click",
     [](Instance& plugin, kvtest::TestClock&) {
         HeadlessWindow* window = HeadlessWindow::last();
         window->scriptPointer({});
         window->setPointer(centre(kPad1), 1);
         window->postClick(centre(kPad1));
         plugin.idle();
     }},
    {"wheel",
     [](Instance& plugin, kvtest::TestClock&) {
         HeadlessWindow::last()->postWheel(centre(kVolumeKnob), 1.f);
         plugin.idle();
     }},
    {"text commit",
     [](Instance& plugin, kvtest::TestClock& clock) {
         // The click opens the field; its Return arrives with the window's
         // events.
         HeadlessWindow* window = HeadlessWindow::last();
         window->setPointer(centre(kVolumeText), 1);
         window->postClick(centre(kVolumeText));
         plugin.idle();
         window->setPointer(centre(kVolumeText), 0);
         clock.now += 1000;  // the commit's pump runs a pass
         window->postCall([] {
             if (auto* field = VSTGUI::platform::HeadlessTextField::last()) {
                 field->setText("-6");
                 field->pressReturn();
             }
         });
         plugin.idle();
     }},
    {"arrow key",
     [](Instance& plugin, kvtest::TestClock&) { plugin.dispatch(effEditKeyDown, 0, VKEY_UP); },
     true},
};

const std::pair<int32_t, const char*> kCallbacks[] = {
    {audioMasterIdle, "idle"},
    {audioMasterAutomate, "automate"},
    {audioMasterBeginEdit, "begin edit"},
    {audioMasterEndEdit, "end edit"},
    {audioMasterSizeWindow, "size window"},
};

const std::pair<Act, const char*> kActs[] = {
    {Act::EditClose, "effEditClose"},
    {Act::Close, "effClose"},
    {Act::Reopen, "close and reopen"},
};

// One cell: a new instance, its editor open, the gesture, and the host's
// act inside the first `callback` the gesture makes. The window's events
// reach the editor inside effEditIdle, as on X11. For the size window,
// the first other call of the gesture has the frame ask for a new size (as
// an editor that resizes itself during a gesture would). Answers whether
// the host got to act.
bool runCell(kvtest::TestClock& clock, const Gesture& gesture, int32_t callback, Act act,
             const std::string& cell) {
    auto plugin = std::make_unique<Instance>();
    plugin->host.answer = [](const kvtest::HostCall& c) -> intptr_t {
        return c.opcode == audioMasterVersion ? 2400 : c.opcode == audioMasterCanDo ? 1 : 0;
    };
    plugin->openAndPaint();
    if (gesture.needsFocus) {
        // A click without travel gives the knob the focus.
        const CPoint c = centre(kGainKnob);
        HeadlessWindow* window = HeadlessWindow::last();
        window->scriptPointer({{c, 1}, {c, 0}});
        window->click(c);
    }
    plugin->clearEvents();
    clock.now += 1000;  // an idle pass is due
    bool acted = false;
    bool resized = false;
    size_t heardAtAct = 0;
    static int parent = 0;
    plugin->onHostCall([&](AEffect* fx, int32_t opcode) {
        if (acted) return;
        if (callback == audioMasterSizeWindow && opcode != audioMasterSizeWindow) {
            if (resized || opcode == audioMasterCanDo || !plugin->editor()->getFrame()) return;
            resized = true;
            plugin->editor()->getFrame()->setSize(240, 401);
            return;
        }
        if (opcode != callback) return;
        acted = true;
        if (act == Act::Close) {
            fx->dispatcher(fx, effClose, 0, 0, nullptr, 0.f);
            plugin->fx = nullptr;  // the host forgets the record
        } else {
            fx->dispatcher(fx, effEditClose, 0, 0, nullptr, 0.f);
            if (act == Act::Reopen) fx->dispatcher(fx, effEditOpen, 0, 0, &parent, 0.f);
        }
        heardAtAct = plugin->events().size();
    });
    gesture.run(*plugin, clock);
    plugin->onHostCall(nullptr);
    int open = 0;
    for (const kvtest::HostCall& c : plugin->events())
        open += c.opcode == audioMasterBeginEdit ? 1 : c.opcode == audioMasterEndEdit ? -1 : 0;
    if (act != Act::Close) {
        EXPECT_EQ(open, 0) << cell << ": a gesture the host heard begin never ended";
    }
    if (!acted) {
        if (plugin->fx) plugin->dispatch(effEditClose);
        return false;
    }
    if (act != Act::Reopen) {
        EXPECT_EQ(plugin->events().size(), heardAtAct) << cell << ": the host heard more";
        EXPECT_EQ(HeadlessWindow::liveCount(), 0) << cell;
    } else {
        // The old window is gone, the new one is whole and keeps working.
        EXPECT_EQ(HeadlessWindow::liveCount(), 1) << cell;
        EXPECT_EQ(HeadlessDropTarget::liveCount(), 1) << cell << ": no drop target";
        VSTGUI::CFrame* frame = plugin->editor()->getFrame();
        EXPECT_NE(frame, nullptr) << cell;
        if (frame) {
            EXPECT_TRUE(frame->isDropActive()) << cell;
        }
        plugin->setParameter(3, 0.75f);
        plugin->idle();
        EXPECT_EQ(plugin->editor()->getVolumeKnob()->getValue(), 0.75f) << cell;
        plugin->dispatch(effEditClose);
    }
    return true;
}

TEST(EditorReentrancy, EveryHostCallbackTimesEveryGestureTimesEveryClose) {
    kvtest::TestClock clock{5000};
    int acted = 0;
    int cells = 0;
    for (const auto& [callback, callbackName] : kCallbacks) {
        for (const Gesture& gesture : kGestures) {
            for (const auto& [act, actName] : kActs) {
                const std::string cell =
                    std::string(callbackName) + " / " + gesture.name + " / " + actName;
                ++cells;
                if (runCell(clock, gesture, callback, act, cell)) ++acted;
                ASSERT_EQ(HeadlessWindow::liveCount(), 0) << cell;
            }
        }
    }
    // The host hears nothing of a text commit but its pump's idle (which
    // the size window cells use to resize); a wheel turn and an arrow key
    // run no pump.
    EXPECT_EQ(cells, 75);
    EXPECT_EQ(acted, 75 - 3 * 3 - 3 * 2);
}

}  // namespace
