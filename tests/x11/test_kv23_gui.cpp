// kv23 gui under Xvfb: plug-ins without an editor are refused with one line,
// and the real editor opens in a window, reports a knob drag as a host sees
// it, and closes cleanly on SIGTERM and when its window is destroyed. The
// CLAP build's panel does the same through the gui extension, and follows
// the host's automation and scale.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/x11/child_process.h"
#include "tests/x11/x_server.h"

namespace {

using kvtest::ChildProcess;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const std::string kErrors = "/tmp/kv23-gui-test-" + std::to_string(getpid()) + ".err";

TEST(Kv23Gui, PluginsWithoutAnEditorAreRefusedWithOneLine) {
    for (const char* plugin : {STUB_NO_EDITOR_PATH, STUB_REFUSING_PATH}) {
        ChildProcess gui;
        ASSERT_TRUE(gui.start({KV23_PATH, "gui", "--plugin", plugin}, kErrors));
        EXPECT_EQ(gui.wait(10000), 1) << plugin;
        const std::string errors = readFile(kErrors);
        EXPECT_NE(errors.find("no editor"), std::string::npos) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_EQ(gui.count("open"), 0);
    }
    std::remove(kErrors.c_str());
}

#ifdef PLUGIN_PATH
class RealEditor : public testing::Test {
  protected:
    void open(std::vector<std::string> extra = {}, const char* plugin = PLUGIN_PATH) {
        std::vector<std::string> args = {KV23_PATH, "gui", "--plugin", plugin};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(gui_.start(args, kErrors));
        const std::string line = gui_.waitFor("open ", 10000);
        ASSERT_FALSE(line.empty()) << readFile(kErrors);
        std::istringstream in(line.substr(5));
        in >> width_ >> height_ >> std::hex >> window_;
        ASSERT_NE(window_, 0ul);
    }
    void TearDown() override { std::remove(kErrors.c_str()); }
    void xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        ASSERT_EQ(kvtest::runProgram(args), 0);
    }

    // Drags the drive knob upwards: one edit with rising values (VST 2:
    // normalised, CLAP: decibels). A VST 2 host hears of the edit while the
    // button is down; a CLAP host that is not processing only when it can
    // flush, after the panel's drag loop has returned from its timer call.
    void dragGain(bool live = true) {
        const std::string w = std::to_string(window_);
        xdotool({"mousemove", "--sync", "--window", w, "120", "130", "mousedown", "1"});
        if (live) {
            ASSERT_EQ(gui_.waitFor("beginEdit"), "beginEdit 0");
        }
        xdotool({"mousemove", "--sync", "--window", w, "120", "115"});
        usleep(100000);
        xdotool({"mousemove", "--sync", "--window", w, "120", "100"});
        usleep(100000);
        xdotool({"mouseup", "1"});
        ASSERT_EQ(gui_.waitFor("endEdit"), "endEdit 0");
        if (!live) {
            EXPECT_EQ(gui_.lines().at(1), "beginEdit 0");
        }
        double previous = -1e9;
        int automations = 0;
        for (const std::string& line : gui_.lines()) {
            if (line.rfind("automate 0 ", 0) != 0) continue;
            const double value = std::stod(line.substr(11));
            EXPECT_GT(value, previous) << line;
            previous = value;
            ++automations;
        }
        EXPECT_GE(automations, 2);
    }

    ChildProcess gui_;
    int width_ = 0, height_ = 0;
    unsigned long window_ = 0;
};

TEST_F(RealEditor, KnobDragIsOneEditWithRisingValues) {
    if (!kvtest::haveProgram("xdotool")) GTEST_SKIP() << "xdotool missing";
    open();
    EXPECT_EQ(width_, 240);
    EXPECT_EQ(height_, 400);
    // The drive knob sits in the upper half; drag it upwards.
    dragGain();
    gui_.signal(SIGTERM);
    EXPECT_EQ(gui_.waitFor("closed"), "closed");
    EXPECT_EQ(gui_.wait(), 0);
    EXPECT_EQ(readFile(kErrors), "");
}

#ifdef CLAP_PATH
// The CLAP panel through the gui extension: the same lines for a drag (its
// gesture and value events, flushed at its request), the host's automation
// through params.flush, the host's scale with the size following, and the
// same closing.
TEST_F(RealEditor, ClapPanelDragsAutomationAndScale) {
    if (!kvtest::haveProgram("xdotool")) GTEST_SKIP() << "xdotool missing";
    open({}, CLAP_PATH);
    EXPECT_EQ(width_, 240);
    EXPECT_EQ(height_, 400);
    dragGain(false);
    gui_.send("set Volume 12");
    EXPECT_EQ(gui_.waitFor("set "), "set 3 12.000000");
    gui_.send("params");
    EXPECT_EQ(gui_.waitFor("param 3 "), "param 3 12.000000");
    gui_.send("over");
    EXPECT_EQ(gui_.waitFor("over"), "over");
    gui_.send("scale 2");
    EXPECT_EQ(gui_.waitFor("sizeWindow"), "sizeWindow 480 800");
    EXPECT_EQ(gui_.waitFor("scale "), "scale 2.000000 1");
    gui_.send("set Nothing 1");
    EXPECT_EQ(gui_.waitFor("unknown command"), "unknown command set Nothing 1");
    gui_.send("quit");
    EXPECT_EQ(gui_.waitFor("closed"), "closed");
    EXPECT_EQ(gui_.wait(), 0);
    EXPECT_EQ(readFile(kErrors), "");
}
#endif

TEST_F(RealEditor, ClosesWhenItsWindowIsDestroyedOrOnInterrupt) {
    if (!kvtest::haveProgram("xdotool")) GTEST_SKIP() << "xdotool missing";
    open();
    // xdotool windowclose destroys the window under the editor, as a host
    // that tears its window down before closing the editor does.
    xdotool({"windowclose", std::to_string(window_)});
    EXPECT_EQ(gui_.waitFor("closed"), "closed");
    EXPECT_EQ(gui_.wait(), 0);
    EXPECT_EQ(readFile(kErrors), "");

    ChildProcess second;
    ASSERT_TRUE(second.start({KV23_PATH, "gui", "--plugin", PLUGIN_PATH, "--destroy-window-first"},
                             kErrors));
    ASSERT_FALSE(second.waitFor("open ", 10000).empty());
    usleep(200000);
    second.signal(SIGINT);
    EXPECT_EQ(second.waitFor("closed"), "closed");
    EXPECT_EQ(second.wait(), 0);
    EXPECT_EQ(readFile(kErrors), "");
}
#endif

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // fontconfig 2.14 loses a few bytes while it parses its configuration
    // on first use inside the plug-in; under the leak checker kv23 would
    // fail for that alone. Not our leak: tell the checker in kv23 to skip it.
    const std::string suppressions = "/tmp/kv23-gui-test-" + std::to_string(getpid()) + ".supp";
    std::ofstream(suppressions) << "leak:libfontconfig.so\n";
    const char* old = std::getenv("LSAN_OPTIONS");
    const std::string options = (old && *old ? std::string(old) + ":" : std::string()) +
                                "suppressions=" + suppressions + ":print_suppressions=0";
    setenv("LSAN_OPTIONS", options.c_str(), 1);
    kvtest::XServer server;
    if (!server.start()) {
        std::fprintf(stderr, "Xvfb is not available: skipping the kv23 gui tests\n");
        return kvtest::kSkipExitCode;
    }
    const int result = RUN_ALL_TESTS();
    std::remove(suppressions.c_str());
    return result;
}
