// Real XDND drags under a private Xvfb: the test source (xdnd_source) drags
// onto a frame embedded in a larger top-level window (dnd_frame), and both
// programs' lines are compared with what the protocol and the toolkit
// promise. Skipped without Xvfb.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/x11/child_process.h"
#include "tests/x11/x_server.h"

namespace {

using kvtest::ChildProcess;

// The host window lies at (20, 30) and is 300 x 440; the panel is its
// 240 x 200 top-left part.
constexpr int kPanelX = 20 + 60;
constexpr int kPanelY = 30 + 80;

kvtest::XServer* server = nullptr;

struct Drag {
    std::vector<std::string> lines;
    int status = -1;
    double seconds = 0;
    int count(const std::string& prefix) const {
        int n = 0;
        for (const auto& l : lines)
            n += l.rfind(prefix, 0) == 0;
        return n;
    }
    bool has(const std::string& line) const { return count(line) > 0; }
};

class XdndDrops : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        server = new kvtest::XServer;
        if (!server->start()) {
            delete server;
            server = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (!server) GTEST_SKIP() << "no Xvfb";
        std::vector<std::string> argv = {DND_FRAME_PATH};
        argv.insert(argv.end(), frameOptions_.begin(), frameOptions_.end());
        ASSERT_TRUE(frame_.start(argv));
        const std::string ready = frame_.waitFor("ready ");
        ASSERT_FALSE(ready.empty());
        std::istringstream(ready.substr(6)) >> host_ >> panel_;
        ASSERT_NE(panel_, 0ul);
    }
    void TearDown() override {
        if (!server) return;
        frame_.send("quit");
        EXPECT_EQ(frame_.wait(), 0) << "the frame program must end cleanly (sanitizers too)";
    }

    Drag drag(int x, int y, std::vector<std::string> options) {
        Drag d;
        ChildProcess source;
        std::vector<std::string> argv = {XDND_SOURCE_PATH, std::to_string(x), std::to_string(y)};
        argv.insert(argv.end(), options.begin(), options.end());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(source.start(argv));
        d.status = source.wait(15000);
        d.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        source.drain(0);
        d.lines = source.lines();
        return d;
    }
    // The frame's lines from `from` on, after giving it time to idle.
    std::vector<std::string> frameLines(size_t from) {
        frame_.drain(150);
        return {frame_.lines().begin() + static_cast<long>(from), frame_.lines().end()};
    }
    std::string state() {
        frame_.send("state");
        return frame_.waitFor("state ");
    }
    static std::string hex(unsigned long w) {
        char text[32];
        std::snprintf(text, sizeof text, "0x%lx", w);
        return text;
    }

    std::vector<std::string> frameOptions_;
    ChildProcess frame_;
    unsigned long host_ = 0;
    unsigned long panel_ = 0;
};

// A drop reaches the view under the pointer, and the drag then leaves it
// (the container routing); these are the frame's last two lines.
void expectDropped(const std::vector<std::string>& seen, int count, const std::string& what = "") {
    const std::string n = std::to_string(count);
    ASSERT_GE(seen.size(), 2u) << what;
    EXPECT_EQ(seen[seen.size() - 2], "drop " + n) << what;
    EXPECT_EQ(seen.back(), "leave " + n) << what;
}

int countPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const auto& l : lines)
        n += l.rfind(prefix, 0) == 0;
    return n;
}

TEST_F(XdndDrops, TextDragCountsOneAndEveryPositionOverThePanelIsAMove) {
    const size_t before = frame_.lines().size();
    const Drag d = drag(kPanelX, kPanelY, {"--text", "a few words", "--moves", "5"});
    EXPECT_EQ(d.status, 0);
    // Sources find the host's window; it sends them on to the panel.
    EXPECT_TRUE(d.has("target " + hex(host_) + " proxy " + hex(panel_))) << d.lines[0];
    EXPECT_EQ(d.count("status accept=1 action=XdndActionCopy"), 5);
    EXPECT_EQ(d.count("status "), 5);
    const auto seen = frameLines(before);
    ASSERT_FALSE(seen.empty());
    // The pointer is read by the frame: xdotool never moved it, so it is
    // wherever Xvfb put it; only the count is checked here.
    EXPECT_EQ(seen.front().rfind("enter 1 ", 0), 0u) << seen.front();
    EXPECT_EQ(countPrefix(seen, "move 1 "), 5);
    EXPECT_EQ(seen.back(), "leave 1");
    // The drop target gave its reference back and cleared the slot; only
    // the view's own reference is left.
    EXPECT_EQ(state(), "state current=0 held=1");
}

TEST_F(XdndDrops, FileListsCountTheirUris) {
    size_t before = frame_.lines().size();
    Drag d = drag(kPanelX, kPanelY, {"--uris", "3", "--end", "drop"});
    EXPECT_TRUE(d.has("served text/uri-list ")) << "the list is read from the selection";
    EXPECT_EQ(d.count("status accept=1 action=XdndActionCopy"), 4);
    // No view takes the drop, so the source must not delete anything.
    EXPECT_TRUE(d.has("finished accepted=0 action=None"));
    auto seen = frameLines(before);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().rfind("enter 0 ", 0), 0u) << "the count comes later";
    expectDropped(seen, 3);
    EXPECT_EQ(state(), "state current=0 held=1");

    // Six types: the source lists them on its window instead.
    before = frame_.lines().size();
    d = drag(kPanelX, kPanelY, {"--uris", "7", "--many-types", "--end", "drop"});
    EXPECT_TRUE(d.has("finished accepted=0 action=None"));
    expectDropped(frameLines(before), 7);
}

TEST_F(XdndDrops, OutsideThePanelNoActionIsOffered) {
    // Over the host's window below the panel: the host's part, not ours.
    const size_t before = frame_.lines().size();
    const Drag d = drag(20 + 100, 30 + 300, {"--text", "x", "--moves", "3", "--end", "drop"});
    EXPECT_EQ(d.count("status accept=0 action=None"), 3);
    EXPECT_TRUE(d.has("finished accepted=0 action=None"));
    // The pointer is off the panel, so no view hears of the drag at all,
    // and the drag is over on our side too.
    EXPECT_TRUE(frameLines(before).empty());
    EXPECT_EQ(state(), "state current=0 held=0");
}

TEST_F(XdndDrops, BadSourcesEndTheirDragAndLeaveTheFrameWorking) {
    struct Case {
        std::vector<std::string> options;
        std::string frameEnd;
    };
    const std::vector<Case> cases = {
        {{"--malformed", "--end", "drop"}, "drop 0"},
        {{"--huge", "3", "--end", "drop"}, "drop 0"},
        {{"--incr", "--end", "drop"}, "drop 0"},
        {{"--uris", "2", "--die"}, "leave"},
    };
    for (const Case& c : cases) {
        const size_t before = frame_.lines().size();
        const Drag d = drag(kPanelX, kPanelY, c.options);
        EXPECT_EQ(d.count("status accept=1 action=XdndActionCopy"), 4) << c.options[0];
        if (c.frameEnd == "drop 0") {
            EXPECT_TRUE(d.has("finished accepted=0 action=None")) << c.options[0];
        }
        const auto seen = frameLines(before);
        if (c.frameEnd == "drop 0") {
            expectDropped(seen, 0, c.options[0]);
        } else {
            ASSERT_FALSE(seen.empty()) << c.options[0];
            EXPECT_EQ(seen.back().rfind(c.frameEnd, 0), 0u) << c.options[0] << ": " << seen.back();
        }
        EXPECT_EQ(state(), "state current=0 held=1") << c.options[0];
    }

    // A source that never hands over its list: the drop still finishes,
    // after the bounded wait (2 s) and not much later.
    const size_t before = frame_.lines().size();
    const Drag silent = drag(kPanelX, kPanelY, {"--silent", "--end", "drop"});
    EXPECT_TRUE(silent.has("finished accepted=0 action=None"));
    EXPECT_GT(silent.seconds, 1.8);
    EXPECT_LT(silent.seconds, 5.0);
    expectDropped(frameLines(before), 0, "silent");

    // Afterwards an ordinary drag works as before.
    const Drag text = drag(kPanelX, kPanelY, {"--text", "still here", "--end", "drop"});
    EXPECT_EQ(text.count("status accept=1 action=XdndActionCopy"), 4);
    EXPECT_TRUE(text.has("finished accepted=0 action=None"));
    expectDropped(frameLines(0), 1, "text");
}

TEST_F(XdndDrops, DisablingDropsTakesTheMarksOffTheHostWindow) {
    frame_.send("drops off");
    EXPECT_EQ(frame_.waitFor("drops "), "drops 1 active=0 aware=0");
    // Again: true, and nothing changes.
    frame_.send("drops off");
    EXPECT_EQ(frame_.waitFor("drops "), "drops 1 active=0 aware=0");
    Drag d = drag(kPanelX, kPanelY, {"--text", "x"});
    EXPECT_TRUE(d.has("no-target"));
    frame_.send("drops on");
    EXPECT_EQ(frame_.waitFor("drops "), "drops 1 active=1 aware=1");
    d = drag(kPanelX, kPanelY, {"--text", "x"});
    EXPECT_EQ(d.count("status accept=1 action=XdndActionCopy"), 4);
}

// A host that closes and reopens the editor inside one of our calls: the new
// frame opens while the old one still waits for its handlers, and it is the
// new one that carries the marks once the old one is gone.
TEST_F(XdndDrops, AFrameReopenedWhileTheOldOneWaitsTakesTheMarks) {
    frame_.send("reopen");
    std::istringstream line(frame_.waitFor("reopened ").substr(9));
    unsigned long reopened = 0;
    std::string aware, proxy;
    line >> reopened >> aware >> proxy;
    EXPECT_EQ(aware, "aware=1");
    EXPECT_EQ(proxy, "proxy=" + hex(reopened));
    const Drag d = drag(kPanelX, kPanelY, {"--text", "x", "--end", "drop"});
    EXPECT_TRUE(d.has("target " + hex(host_) + " proxy " + hex(reopened)));
    EXPECT_EQ(d.count("status accept=1 action=XdndActionCopy"), 4);
    EXPECT_TRUE(d.has("finished accepted=0 action=None"));
}

// The host window inside a window manager's decoration, with WM_STATE: the
// marks go on the host's client window (not on the decoration) and come off
// when the frame closes.
class XdndUnderAWindowManager : public XdndDrops {
  protected:
    XdndUnderAWindowManager() { frameOptions_ = {"--wm"}; }
};

TEST_F(XdndUnderAWindowManager, TheClientWindowCarriesTheMarksUntilTheFrameCloses) {
    // The decoration sits at (15, 10) and the host at (5, 20) inside it:
    // the panel starts at (20, 30) on the screen as before.
    const Drag d = drag(kPanelX, kPanelY, {"--uris", "2", "--end", "drop"});
    EXPECT_TRUE(d.has("target " + hex(host_) + " proxy " + hex(panel_)));
    EXPECT_EQ(d.count("status accept=1 action=XdndActionCopy"), 4);
    EXPECT_TRUE(d.has("finished accepted=0 action=None"));
    frame_.send("close");
    EXPECT_EQ(frame_.waitFor("closed "), "closed aware=0");
    EXPECT_TRUE(drag(kPanelX, kPanelY, {"--text", "x"}).has("no-target"));
}

// The window manager put the host window into its decoration before the
// frame opened and gave it WM_STATE only after: the marks move from the
// decoration (then the window right below the root) to the client window.
class XdndUnderALateWindowManager : public XdndDrops {
  protected:
    XdndUnderALateWindowManager() { frameOptions_ = {"--wm-late"}; }
};

TEST_F(XdndUnderALateWindowManager, TheMarksMoveToTheClientWindow) {
    const auto& seen = frame_.lines();
    EXPECT_NE(std::find(seen.begin(), seen.end(), "decoration aware=0"), seen.end());
    const Drag d = drag(kPanelX, kPanelY, {"--text", "x"});
    EXPECT_TRUE(d.has("target " + hex(host_) + " proxy " + hex(panel_)));
    EXPECT_EQ(d.count("status accept=1 action=XdndActionCopy"), 4);
}

// A host whose window takes drops itself keeps them: we add nothing there
// and take nothing away at close.
class XdndOnAHostThatTakesDrops : public XdndDrops {
  protected:
    XdndOnAHostThatTakesDrops() { frameOptions_ = {"--host-aware"}; }
};

TEST_F(XdndOnAHostThatTakesDrops, ItsMarksStayAndItsDragsStayItsOwn) {
    const size_t before = frame_.lines().size();
    const Drag d = drag(kPanelX, kPanelY, {"--text", "x", "--moves", "1"});
    EXPECT_TRUE(d.has("target " + hex(host_) + " proxy 0x0"));
    EXPECT_EQ(d.count("status "), 0) << "the host answers its own drags";
    EXPECT_TRUE(frameLines(before).empty());
    frame_.send("close");
    EXPECT_EQ(frame_.waitFor("closed "), "closed aware=1");
}

// A managed host window with the editor in a container of its own, which
// the host later docks into another top-level window.
class XdndInADockingHost : public XdndDrops {
  protected:
    XdndInADockingHost() { frameOptions_ = {"--wm", "--container"}; }
    unsigned long dock() {
        frame_.send("dock");
        std::istringstream line(frame_.waitFor("docked ").substr(7));
        unsigned long top = 0;
        std::string aware;
        line >> top >> aware;
        EXPECT_EQ(aware, "aware=1") << "the new top-level window was not marked";
        return top;
    }
};

TEST_F(XdndInADockingHost, TheMarksFollowTheContainerIntoTheNewTopLevel) {
    const unsigned long top = dock();
    const Drag d = drag(kPanelX, kPanelY, {"--text", "x"});
    EXPECT_TRUE(d.has("target " + hex(top) + " proxy " + hex(panel_)));
    EXPECT_EQ(d.count("status accept=1 action=XdndActionCopy"), 4);
}

// The host drags from its own window, which the marks watch on the frame's
// connection: the drag adds and takes off only its own watch, so the marks
// still follow a dock afterwards.
TEST_F(XdndInADockingHost, ADragFromTheHostsOwnWindowLeavesTheOtherWatchesAlone) {
    frame_.send("mask");
    const std::string before = frame_.waitFor("mask ");
    const size_t from = frame_.lines().size();
    drag(kPanelX, kPanelY,
         {"--text", "x", "--moves", "1", "--source-window", std::to_string(host_)});
    const auto seen = frameLines(from);
    EXPECT_EQ(countPrefix(seen, "leave "), 1);
    frame_.send("mask");
    EXPECT_EQ(frame_.waitFor("mask "), before);
    dock();
}

// A frame at factor 2: the drop target reads the pointer in device pixels
// and the view under it gets panel units.
class XdndAtTwiceTheDensity : public XdndDrops {
  protected:
    XdndAtTwiceTheDensity() { frameOptions_ = {"--scale", "2"}; }
};

TEST_F(XdndAtTwiceTheDensity, TheViewUnderThePointerGetsPanelUnits) {
    // Device pixel (300, 250) of the panel, whose window lies at (20, 30).
    if (access("/usr/bin/xdotool", X_OK) != 0) GTEST_SKIP() << "no xdotool";
    ChildProcess move;
    ASSERT_TRUE(move.start({"/usr/bin/xdotool", "mousemove", "320", "280"}));
    ASSERT_EQ(move.wait(5000), 0) << "xdotool";
    const size_t before = frame_.lines().size();
    const Drag d = drag(320, 280, {"--text", "x", "--moves", "2", "--end", "drop"});
    EXPECT_EQ(d.status, 0);
    EXPECT_TRUE(d.has("target " + hex(host_) + " proxy " + hex(panel_))) << d.lines[0];
    const auto seen = frameLines(before);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), "enter 1 150 125");
    EXPECT_EQ(countPrefix(seen, "move 1 150 125"), 2);
    expectDropped(seen, 1);
}

}  // namespace
