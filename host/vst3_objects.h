// The objects a VST3 host hands a plug-in: the host application (which
// also makes the messages a component and a separate controller send each
// other), a byte stream, the parameter changes of one block, the
// controller's component handler, and the view's frame with its run loop.
//
// Each object is a C++ object whose interfaces are Faces: a pointer to the
// interface's function table first, then a pointer back to the object, so
// that the address of a Face is what the plug-in holds (an `I**`). An
// object has one reference count for all its faces. The host's own objects
// (application, handler, frame) live as long as the Vst3Host and count
// references only so that the checks can see them balanced; messages and
// attribute lists are the plug-in's to release and free themselves.
#pragma once

#include <travesty/audio_processor.h>
#include <travesty/bstream.h>
#include <travesty/edit_controller.h>
#include <travesty/host.h>
#include <travesty/message.h>
#include <travesty/view.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace kv::host::vst3 {

template <typename Object>
struct Face {
    const void* table;
    Object* object;
};

template <typename Object>
Object& objectOf(void* self) {
    return *static_cast<Face<Object>*>(self)->object;
}

// Calls through an interface pointer the plug-in gave us.
inline uint32_t refOf(void* face) {
    return (*static_cast<v3_funknown**>(face))->ref(face);
}
inline uint32_t unrefOf(void* face) {
    return (*static_cast<v3_funknown**>(face))->unref(face);
}
// The interface `iid` of `face` (one reference added), or null.
void* queryOf(void* face, const v3_tuid iid);

// UTF-16 text (v3_str_128 and the like) as UTF-8, up to `size` code units.
std::string narrow(const int16_t* text, size_t size = 128);
// UTF-8 into UTF-16 with the NUL, cut to `size` code units.
void widen(const std::string& text, int16_t* out, size_t size);

// Bytes as an IBStream. A stream written by the plug-in grows; one the
// plug-in reads sees only `bytes[begin, end)`, the window of a larger blob
// a host may hand it. Reads and writes move at most `chunk` bytes a call;
// without `canSeek`, seek and tell answer "not implemented".
struct Stream {
    Stream();
    std::vector<uint8_t> bytes;
    size_t pos = 0;  // from `begin`
    size_t begin = 0;
    size_t end = SIZE_MAX;
    size_t chunk = SIZE_MAX;
    bool canSeek = true;
    std::atomic<uint32_t> refs{1};
    Face<Stream> face;

    v3_bstream** ptr() { return reinterpret_cast<v3_bstream**>(&face); }
    size_t limit() const { return std::min(end, bytes.size()); }
    // Bytes the plug-in has not read of its window.
    size_t unread() const { return limit() - std::min(limit(), begin + pos); }
};

// The parameter changes of one block: a queue per parameter, each point
// (offset, normalised). Storage is made once (reserve), so that filling
// it on the audio thread allocates nothing; points beyond the room are
// dropped. The same class collects a plug-in's output changes.
class ParamChanges {
  public:
    ParamChanges();
    void reserve(size_t queues, size_t pointsPerQueue);
    void clear();
    // False when there is no room left.
    bool add(v3_param_id id, int32_t offset, double value);
    v3_param_changes** ptr() { return reinterpret_cast<v3_param_changes**>(&face_); }
    size_t queueCount() const { return used_; }

    struct Queue {
        ParamChanges* owner = nullptr;
        Face<Queue> face{nullptr, nullptr};
        v3_param_id id = 0;
        std::vector<std::pair<int32_t, double>> points;
    };
    const Queue& queue(size_t i) const { return queues_[i]; }
    Queue* find(v3_param_id id, bool create);

    std::atomic<uint32_t> refs{1};

  private:
    Face<ParamChanges> face_;
    std::vector<Queue> queues_;
    size_t used_ = 0;
    size_t pointRoom_ = 0;
};

// What the plug-in tells the host through the controller's handler and
// the view's frame, as the Vst3Host's owner hears it. Edits arrive on the
// thread the plug-in made them on (its view's: the host's main thread).
class HostEvents {
  public:
    virtual ~HostEvents() = default;
    virtual void beginEdit(v3_param_id id) = 0;
    virtual void performEdit(v3_param_id id, double normalised) = 0;
    virtual void endEdit(v3_param_id id) = 0;
    virtual void restartComponent(int32_t flags) = 0;
    // Whether the host gives the view the new size (device pixels).
    virtual bool resizeView(v3_plugin_view** view, const v3_view_rect& rect) = 0;
    // Any call into the host worth a trace line.
    virtual void note(const std::string& line) = 0;
};

// IHostApplication: our name, and messages for the plug-in's connection
// points. IComponentHandler for the controller. IPlugFrame for the view,
// with IRunLoop (timers, file descriptors) unless `runLoop` is false.
class HostServices {
  public:
    explicit HostServices(HostEvents& events);
    // Whoever heard the plug-in is gone: later calls are answered, not passed on.
    void detach() { events_ = nullptr; }
    // Lets go of the timers and handlers a plug-in left registered (before
    // its module is unloaded); answers how many there were.
    size_t releaseRegistrations();
    ~HostServices();
    HostServices(const HostServices&) = delete;
    HostServices& operator=(const HostServices&) = delete;

    v3_funknown** context() { return reinterpret_cast<v3_funknown**>(&app_); }
    v3_component_handler** handler() { return reinterpret_cast<v3_component_handler**>(&handler_); }
    v3_plugin_frame** frame() { return reinterpret_cast<v3_plugin_frame**>(&frame_); }

    // Whether the frame answers IRunLoop (a host without one: false).
    bool runLoop = true;
    // The references the plug-in holds on each object now (beyond ours).
    uint32_t appRefs() const { return appRefs_ - 1; }
    uint32_t handlerRefs() const { return handlerRefs_ - 1; }
    uint32_t frameRefs() const { return frameRefs_ - 1; }
    uint32_t runLoopRefs() const { return loopRefs_; }
    // Messages made and not yet freed.
    static int liveMessages();

    // Main thread: every timer once and every handler whose descriptor is
    // readable (a host's idle tick); with `onlyDue`, the timers that are due.
    // Answers the milliseconds until the next timer is due (100 without one).
    int runLoopTick(bool onlyDue);
    size_t timerCount() const { return timers_.size(); }
    size_t fdHandlerCount() const { return fdHandlers_.size(); }
    // The longest a single timer or handler call took, and the second
    // longest (for the drag checks: one call stretched by the scheduler on
    // a busy machine is not a call that holds the host).
    std::chrono::microseconds longestCall() const { return longest_; }
    std::chrono::microseconds secondLongestCall() const { return second_; }
    void resetLongestCall() { longest_ = second_ = {}; }

    // The functions of the three objects' tables (vst3_objects.cpp).
    struct App;
    struct Handler;
    struct Frame;

  private:
    struct Timer {
        v3_timer_handler** handler;
        std::chrono::milliseconds period;
        std::chrono::steady_clock::time_point next;
    };
    struct FdHandler {
        v3_event_handler** handler;
        int fd;
    };

    HostEvents* events_;  // null once its host is gone
    Face<HostServices> app_;
    Face<HostServices> handler_;
    Face<HostServices> frame_;
    Face<HostServices> loop_;
    std::atomic<uint32_t> appRefs_{1};
    std::atomic<uint32_t> handlerRefs_{1};
    std::atomic<uint32_t> frameRefs_{1};
    std::atomic<uint32_t> loopRefs_{0};
    std::vector<Timer> timers_;
    std::vector<FdHandler> fdHandlers_;
    std::chrono::microseconds longest_{0};
    std::chrono::microseconds second_{0};
};

}  // namespace kv::host::vst3
