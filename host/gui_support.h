// What kv23 gui shares between its VST 2, CLAP and VST3 sessions: the output
// lines, the top-level window the editor lives in, the commands read from
// standard input, and the signals that ask it to close.
#pragma once

#include <X11/Xlib.h>
#include <signal.h>

#include <cstdio>
#include <functional>
#include <string>

#include "host/cli.h"

namespace kv::host {

// kv23 gui's options (see its help text).
// The largest side of an editor's window kv23 believes: a size beyond it is
// the plug-in's fault (an unset field, -1 read as unsigned), not a window.
constexpr uint32_t kMaxWindowSide = 16384;

struct GuiOptions {
    PluginChoice plugin;
    long closeAfter = -1;
    bool destroyFirst = false;
    bool closeInIdle = false;
    double scale = 0.0;  // 0: send none
};

// kv23 gui for a .clap file (clap_gui_session.cpp).
int runClapGui(const GuiOptions& options);
// ... for a VST3 bundle or module (vst3_gui_session.cpp).
int runVst3Gui(const GuiOptions& options);

// One line on standard output, written at once. A line without arguments
// is printed as it is: a format that is not a literal with nothing to
// format is what hardened builds reject.
void say(const char* format, auto... args) {
    if constexpr (sizeof...(args) == 0) {
        std::fputs(format, stdout);
    } else {
        std::printf(format, args...);
    }
    std::fflush(stdout);
}

// A value with six decimals and a point: the lines are for scripts, whatever
// the locale the user runs kv23 in.
std::string sixDecimals(double value);

// A factor as the user wrote it, read without the locale; a UsageError
// naming `option` unless it is a positive number.
double parseFactor(const std::string& text, const std::string& option);

// Set by SIGINT, SIGTERM or the quit command: the session closes.
extern volatile sig_atomic_t stopRequested;

// What a session does for the commands on its standard input; `set` is
// left empty by a session without it.
struct SessionCommands {
    std::function<void()> params;                 // "params"
    std::function<void()> over;                   // "over"
    std::function<void(double)> scale;            // "scale F"
    std::function<bool(const std::string&)> set;  // "set ID VALUE": false if unread
};
// The arguments of "set ID VALUE": the parameter as typed and its value,
// read without the locale; false when they do not read.
bool readSetting(const std::string& arguments, std::string& parameter, double& value);

// One line of standard input: params, over, quit, scale F, set ID VALUE, or
// nothing; any other line, or one whose arguments do not read, is answered
// "unknown command LINE".
void runSessionCommand(const std::string& line, const SessionCommands& commands);

// Takes SIGINT and SIGTERM over while it lives and gives them back after.
class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

// The host's top-level window: titled, closable by the window manager
// (WM_DELETE_WINDOW), of a fixed size the window manager should not offer
// to change.
class TopWindow {
  public:
    // Creates and maps the window; its structure events are selected.
    TopWindow(Display* dpy, int width, int height, const std::string& title);
    Window id() const { return window_; }
    int width() const { return width_; }
    int height() const { return height_; }
    void resizeTo(int width, int height);
    // Reads the events that have come: the window manager's request to
    // close sets stopRequested. Answers whether the window was destroyed.
    bool readEvents();

  private:
    Display* dpy_;
    Window window_ = 0;
    Atom deleteWindow_ = 0;
    int width_ = 0;
    int height_ = 0;
};

// Commands from standard input, one a line, and the wait between two ticks
// of a session's loop.
class CommandInput {
  public:
    // Sleeps up to `ms` milliseconds or until the X connection `xFd` or
    // standard input has something; runs every complete line that came.
    void wait(int xFd, int ms, const std::function<void(const std::string&)>& run);

  private:
    bool open_ = true;  // false once standard input is closed or absent
    std::string pending_;
};

}  // namespace kv::host
