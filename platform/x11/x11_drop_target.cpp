// Drops from other applications on X11: the XDND protocol (version 5) on the
// frame window's own connection.
//
// Where sources look: a drag source asks for the top-level client window
// under the pointer (the host's window, the one with WM_STATE) and never
// descends into an embedded child like ours. So the host's client window is
// marked XdndAware and points with XdndProxy at our child, which points at
// itself. Our child carries XdndAware as well: GTK and Qt read the version
// on the window that XdndProxy names, and without it they see no target at
// all. The source then sends its messages to our child, and they arrive
// on our connection, read when the host calls the editor's idle. The marks
// on the host's window (HostMarks) follow a window manager that reparents it
// after the frame opened.
//
// Enter, position, leave and drop become the four drop events. Every
// position over the panel is answered with XdndStatus (accept, copy action:
// Qt takes the action of the last status as the drag's result, and a text
// editor deletes the text it thinks was moved);
// positions over the rest of the host's window, or a frame that is gone, get
// "no action". The item count of a file list needs the data, which belongs
// to the source and may come from the host's own thread: it is requested
// with XConvertSelection at enter and counted when SelectionNotify comes in,
// never waited for. A drop waits for that count, but not for longer than
// kSelectionTimeoutMs; then XdndFinished tells the source whether a view
// took the drop. Sources that vanish are noticed through their window's
// DestroyNotify (the drag ends there); requests naming a window that is gone
// raise errors that our connection's handler swallows.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/x11_event_mask.h"
#include "platform/x11/x11_host_marks.h"
#include "platform/x11/x11_window.h"
#include "platform/x11/x11_xdnd.h"
#include "vstgui/platform/clock.h"
#include "vstgui/platform/drop_target.h"

namespace VSTGUI::platform {

namespace x11 {
namespace {

// The plain-text targets, in the order kindOfTypes knows them.
constexpr const char* kTextTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING",
                                      "STRING", "TEXT"};

struct Atoms {
    Atom aware, proxy, enter, position, status, leave, drop, finished, actionCopy, selection,
        typeList, uriList, incr, wmState, data;
    Atom text[5];

    // All names in one request: one round trip instead of one per atom,
    // which made up most of the time a drop target took to register.
    explicit Atoms(Display* d) {
        Atom* const fields[] = {&aware,    &proxy,   &enter,    &position,   &status,
                                &leave,    &drop,    &finished, &actionCopy, &selection,
                                &typeList, &uriList, &incr,     &wmState,    &data,
                                &text[0],  &text[1], &text[2],  &text[3],    &text[4]};
        // KV23_XDND_DATA: where the source puts the list for us.
        const char* names[] = {"XdndAware",      "XdndProxy",     "XdndEnter",      "XdndPosition",
                               "XdndStatus",     "XdndLeave",     "XdndDrop",       "XdndFinished",
                               "XdndActionCopy", "XdndSelection", "XdndTypeList",   "text/uri-list",
                               "INCR",           "WM_STATE",      "KV23_XDND_DATA", kTextTypes[0],
                               kTextTypes[1],    kTextTypes[2],   kTextTypes[3],    kTextTypes[4]};
        static_assert(std::size(fields) == std::size(names));
        Atom atoms[std::size(names)] = {};
        XInternAtoms(d, const_cast<char**>(names), static_cast<int>(std::size(names)), False,
                     atoms);
        for (size_t i = 0; i < std::size(fields); ++i)
            *fields[i] = atoms[i];
    }
};

class X11DropTarget final : public DropTarget {
  public:
    X11DropTarget(X11Window& window, DropEvents& events)
        : window_(window),
          events_(events),
          display_(window.display()),
          child_(window.window()),
          atoms_(display_) {
        const long version = kXdndVersion;
        setWindowProperty(child_, atoms_.proxy, child_);
        XChangeProperty(display_, child_, atoms_.aware, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&version), 1);
        marks_.emplace(display_, child_,
                       HostMarks::Atoms{atoms_.aware, atoms_.proxy, atoms_.wmState});
        XFlush(display_);
        eventHook_ = window_.addEventHook([this](XEvent& e) { return handle(e); });
    }

    ~X11DropTarget() override {
        window_.removeEventHook(eventHook_);
        window_.removeEventHook(idleHook_);
        // The frame is going: a source waiting for the end of its drop
        // hears that nothing took it.
        if (inDrag_ && dropPending_) sendFinished(false);
        endDrag(true);
        if (!window_.destroyed()) {
            XDeleteProperty(display_, child_, atoms_.proxy);
            XDeleteProperty(display_, child_, atoms_.aware);
        }
        marks_.reset();
        XFlush(display_);
    }

  private:
    void setWindowProperty(Window on, Atom property, Window value) {
        const unsigned long v = value;
        XChangeProperty(display_, on, property, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&v), 1);
    }

    bool addressedToUs(const XClientMessageEvent& m) const {
        const Window client = marks_->client();
        return m.window == child_ || (client && m.window == client);
    }

    bool handle(XEvent& event) {
        marks_->handle(event);
        if (event.type == ClientMessage && event.xclient.format == 32 &&
            addressedToUs(event.xclient)) {
            const XClientMessageEvent& m = event.xclient;
            if (m.message_type == atoms_.enter) return enter(m), true;
            if (m.message_type == atoms_.position) return position(m), true;
            if (m.message_type == atoms_.leave) return leave(m), true;
            if (m.message_type == atoms_.drop) return dropped(m), true;
            return false;
        }
        if (event.type == SelectionNotify && event.xselection.requestor == child_ &&
            event.xselection.selection == atoms_.selection) {
            selectionArrived(event.xselection);
            return true;
        }
        if (event.type == DestroyNotify && inDrag_ && event.xdestroywindow.window == source_) {
            // The source vanished mid-drag: nobody will send the end.
            sourceGone_ = true;
            endDrag(true);
            return true;
        }
        return false;
    }

    bool fromSource(const XClientMessageEvent& m) const {
        return inDrag_ && static_cast<Window>(m.data.l[0]) == source_;
    }

    void enter(const XClientMessageEvent& m) {
        // A new drag while the previous one never ended: that one is over.
        if (inDrag_) endDrag(true);
        const long version = (m.data.l[1] >> 24) & 0xff;
        if (version < kXdndOldestVersion) return;
        source_ = static_cast<Window>(m.data.l[0]);
        addressed_ = m.window;
        inDrag_ = true;
        dropPending_ = false;
        overPanel_ = false;
        sourceGone_ = false;
        // We hear of the source's window going away. The source may be the
        // host's own window, which other parts watch on our connection too.
        sourceBits_ = addEventBits(display_, source_, StructureNotifyMask);

        std::vector<Atom> types;
        if (m.data.l[1] & 1) {
            readTypeList(types);
        } else {
            for (int i = 2; i < 5; ++i)
                if (m.data.l[i]) types.push_back(static_cast<Atom>(m.data.l[i]));
        }
        std::vector<std::string> names;
        for (Atom t : types) {
            if (t == atoms_.uriList) names.emplace_back("text/uri-list");
            for (size_t i = 0; i < 5; ++i)
                if (t == atoms_.text[i]) names.emplace_back(kTextTypes[i]);
        }
        const DragKind kind = kindOfTypes(names);
        countKnown_ = kind != DragKind::uriList;
        accepted_ = events_.dragEnter(kind == DragKind::text ? 1 : 0);
        if (kind == DragKind::uriList) {
            XConvertSelection(display_, atoms_.selection, atoms_.uriList, atoms_.data, child_,
                              CurrentTime);
            requestedAt_ = clock().ticks();
            // Only while the answer is awaited: an idle without a drag
            // has nothing to look at here.
            if (!idleHook_) idleHook_ = window_.addIdleHook([this] { checkTimeout(); });
        }
        XFlush(display_);
    }

    // More than three types: the source lists them on its window. Read a
    // bounded number; a file list or text among the first 256 is enough.
    void readTypeList(std::vector<Atom>& types) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display_, source_, atoms_.typeList, 0, 256, False, XA_ATOM, &type,
                               &format, &count, &after, &data) == Success &&
            data && type == XA_ATOM && format == 32) {
            const auto* atoms = reinterpret_cast<const unsigned long*>(data);
            for (unsigned long i = 0; i < count; ++i)
                types.push_back(static_cast<Atom>(atoms[i]));
        }
        if (data) XFree(data);
    }

    // Whether the root position lies on our window (the host's window may
    // be larger than the panel).
    bool onPanel(int x, int y) {
        if (window_.destroyed()) return false;
        int wx = 0, wy = 0;
        Window childReturn = 0;
        if (!XTranslateCoordinates(display_, DefaultRootWindow(display_), child_, x, y, &wx, &wy,
                                   &childReturn))
            return false;
        return wx >= 0 && wy >= 0 && wx < window_.width() && wy < window_.height();
    }

    void position(const XClientMessageEvent& m) {
        if (!fromSource(m) || dropPending_) return;
        const int x = static_cast<int>((m.data.l[2] >> 16) & 0xffff);
        const int y = static_cast<int>(m.data.l[2] & 0xffff);
        overPanel_ = onPanel(x, y);
        bool accept = false;
        if (overPanel_) accept = accepted_ && events_.dragMove();
        sendStatus(accept);
    }

    void leave(const XClientMessageEvent& m) {
        if (!fromSource(m)) return;
        endDrag(true);
    }

    void dropped(const XClientMessageEvent& m) {
        if (!fromSource(m) || dropPending_) return;
        dropPending_ = true;
        if (!overPanel_ || !accepted_) {
            sendFinished(false);
            endDrag(true);
            return;
        }
        if (countKnown_) deliverDrop();
        // Otherwise SelectionNotify or the timeout delivers it.
    }

    void selectionArrived(const XSelectionEvent& s) {
        if (!inDrag_ || countKnown_) {
            // A late answer to a drag that is over: only clean up.
            if (s.property != None) XDeleteProperty(display_, child_, s.property);
            return;
        }
        countKnown_ = true;
        stopTimeout();
        int32_t count = 0;
        if (s.property != None) count = readCount(s.property);
        events_.dragItemCount(count);
        if (dropPending_) deliverDrop();
    }

    // Reads at most kMaxListBytes of the list and deletes the property.
    int32_t readCount(Atom property) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        int32_t items = 0;
        const long longs = static_cast<long>(kMaxListBytes / 4);
        if (XGetWindowProperty(display_, child_, property, 0, longs, False, AnyPropertyType, &type,
                               &format, &count, &after, &data) == Success &&
            data && type != atoms_.incr && format == 8 && after == 0)
            items = countUriList(reinterpret_cast<const char*>(data), count);
        if (data) XFree(data);
        // Deleting an INCR property would ask for the first piece: that
        // transfer is refused, so the source's own timeout ends it.
        if (type != atoms_.incr) XDeleteProperty(display_, child_, property);
        return items;
    }

    void deliverDrop() {
        const bool taken = events_.drop();
        sendFinished(taken);
        endDrag(false);
    }

    void stopTimeout() {
        if (!idleHook_) return;
        window_.removeEventHook(idleHook_);  // safe from inside the hook itself
        idleHook_ = 0;
    }

    void checkTimeout() {
        if (!inDrag_ || countKnown_) return;
        if (clock().ticks() - requestedAt_ < kSelectionTimeoutMs) return;
        // The source never answered: the count stays 0.
        countKnown_ = true;
        stopTimeout();
        if (dropPending_) deliverDrop();
    }

    void sendStatus(bool accept) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.display = display_;
        e.xclient.window = source_;
        e.xclient.message_type = atoms_.status;
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(addressed_);
        // Bit 1: send every position, we keep no rectangle of silence.
        e.xclient.data.l[1] = (accept ? 1 : 0) | 2;
        e.xclient.data.l[4] = accept ? static_cast<long>(atoms_.actionCopy) : None;
        XSendEvent(display_, source_, False, NoEventMask, &e);
        XFlush(display_);
    }

    void sendFinished(bool taken) {
        if (sourceGone_) return;
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.display = display_;
        e.xclient.window = source_;
        e.xclient.message_type = atoms_.finished;
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(addressed_);
        // Only a drop that a view took is accepted, and then as a copy: the
        // source keeps its data either way.
        e.xclient.data.l[1] = taken ? 1 : 0;
        e.xclient.data.l[2] = taken ? static_cast<long>(atoms_.actionCopy) : None;
        XSendEvent(display_, source_, False, NoEventMask, &e);
        XFlush(display_);
    }

    // Ends the drag on our side; `leave` tells the frame the drag left.
    void endDrag(bool leave) {
        if (!inDrag_) return;
        inDrag_ = false;
        stopTimeout();
        if (!sourceGone_) removeEventBits(display_, source_, sourceBits_);
        sourceBits_ = 0;
        dropPending_ = false;
        if (leave) events_.dragLeave();
        XFlush(display_);
    }

    X11Window& window_;
    DropEvents& events_;
    Display* display_;
    Window child_;
    Atoms atoms_;
    std::optional<HostMarks> marks_;
    int eventHook_ = 0;
    int idleHook_ = 0;

    bool inDrag_ = false;
    Window source_ = 0;
    Window addressed_ = 0;
    bool accepted_ = false;
    bool overPanel_ = false;
    bool countKnown_ = true;
    bool dropPending_ = false;
    bool sourceGone_ = false;
    long sourceBits_ = 0;  // the event mask bits we added on the source's window
    uint32_t requestedAt_ = 0;
};

}  // namespace
}  // namespace x11

std::unique_ptr<DropTarget> registerDropTarget(NativeWindow& window, DropEvents& events) {
    x11::X11Window* x = x11::asX11Window(&window);
    if (!x || x->destroyed()) return nullptr;
    return std::make_unique<x11::X11DropTarget>(*x, events);
}

}  // namespace VSTGUI::platform
