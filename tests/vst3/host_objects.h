// What a VST3 host hands a plug-in, as small objects for the tests: a byte
// stream (written or read in pieces, optionally a window of a larger blob),
// parameter changes with their queues, a component handler that records the
// edits, and a view frame with a run loop whose timers the test fires.
#pragma once

#include <travesty/audio_processor.h>
#include <travesty/bstream.h>
#include <travesty/edit_controller.h>
#include <travesty/view.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kvtest::vst3 {

// The tables travesty declares no C++ shape for.
struct v3_bstream_cpp : v3_funknown {
    v3_bstream stream;
};
struct v3_component_handler_cpp : v3_funknown {
    v3_component_handler handler;
};

// An interface of a test object: the table first, then the object.
template <typename Table, typename Object>
struct Face {
    const Table* table;
    Object* object;
    static Object& of(void* self) { return *static_cast<Face*>(self)->object; }
};

// The test owns these objects; references are counted only to be checked.
template <typename Object>
struct Counted {
    int refs = 1;
    static uint32_t V3_API ref(void* self) { return ++Object::of(self).refs; }
    static uint32_t V3_API unref(void* self) { return --Object::of(self).refs; }
};

// Bytes as an IBStream. Reads and writes move at most `chunk` bytes a call.
// `begin`/`end` make it a window of `bytes`: reads, tell and seek see only
// that part, as a host's window into a larger blob.
struct Stream : Counted<Stream> {
    std::vector<unsigned char> bytes;
    size_t pos = 0;
    size_t begin = 0;
    size_t end = static_cast<size_t>(-1);
    size_t chunk = 7;
    bool canSeek = true;

    static Stream& of(void* self) { return Face<v3_bstream_cpp, Stream>::of(self); }
    size_t limit() const { return std::min(end, bytes.size()); }
    v3_bstream** ptr() { return reinterpret_cast<v3_bstream**>(&face); }

    static v3_result V3_API query(void*, const v3_tuid, void** obj) {
        *obj = nullptr;
        return V3_NO_INTERFACE;
    }
    static v3_result V3_API read(void* self, void* buffer, int32_t size, int32_t* done) {
        Stream& s = of(self);
        const size_t at = s.begin + s.pos;
        const size_t n = std::min(
            {static_cast<size_t>(size), s.chunk, at < s.limit() ? s.limit() - at : size_t{0}});
        if (n > 0) std::memcpy(buffer, s.bytes.data() + at, n);
        s.pos += n;
        if (done) *done = static_cast<int32_t>(n);
        return V3_OK;
    }
    static v3_result V3_API write(void* self, void* buffer, int32_t size, int32_t* done) {
        Stream& s = of(self);
        const size_t n = std::min(static_cast<size_t>(size), s.chunk);
        const auto* p = static_cast<const unsigned char*>(buffer);
        s.bytes.insert(s.bytes.end(), p, p + n);
        s.pos += n;
        if (done) *done = static_cast<int32_t>(n);
        return V3_OK;
    }
    static v3_result V3_API seek(void* self, int64_t to, int32_t mode, int64_t* result) {
        Stream& s = of(self);
        if (!s.canSeek) return V3_NOT_IMPLEMENTED;
        const auto size = static_cast<int64_t>(s.limit() - s.begin);
        const int64_t base = mode == V3_SEEK_SET ? 0 : (mode == V3_SEEK_CUR ? s.pos : size);
        if (base + to < 0 || base + to > size) return V3_INVALID_ARG;
        s.pos = static_cast<size_t>(base + to);
        if (result) *result = static_cast<int64_t>(s.pos);
        return V3_OK;
    }
    static v3_result V3_API tell(void* self, int64_t* pos) {
        Stream& s = of(self);
        if (!s.canSeek) return V3_NOT_IMPLEMENTED;
        *pos = static_cast<int64_t>(s.pos);
        return V3_OK;
    }
    static constexpr v3_bstream_cpp kTable = {{query, ref, unref}, {read, write, seek, tell}};
    Face<v3_bstream_cpp, Stream> face{&kTable, this};
};

// One queue per parameter, points in time order.
struct Queue : Counted<Queue> {
    v3_param_id id = 0;
    std::vector<std::pair<int32_t, double>> points;

    static Queue& of(void* self) { return Face<v3_param_value_queue_cpp, Queue>::of(self); }
    static v3_result V3_API query(void*, const v3_tuid, void** obj) {
        *obj = nullptr;
        return V3_NO_INTERFACE;
    }
    static v3_param_id V3_API paramId(void* self) { return of(self).id; }
    static int32_t V3_API count(void* self) { return static_cast<int32_t>(of(self).points.size()); }
    static v3_result V3_API point(void* self, int32_t i, int32_t* offset, double* value) {
        Queue& q = of(self);
        if (i < 0 || i >= count(self)) return V3_INVALID_ARG;
        *offset = q.points[i].first;
        *value = q.points[i].second;
        return V3_OK;
    }
    static v3_result V3_API add(void*, int32_t, double, int32_t*) { return V3_NOT_IMPLEMENTED; }
    static constexpr v3_param_value_queue_cpp kTable = {{query, ref, unref},
                                                        {paramId, count, point, add}};
    Face<v3_param_value_queue_cpp, Queue> face{&kTable, this};
};

struct Changes : Counted<Changes> {
    std::vector<std::unique_ptr<Queue>> queues;

    void add(v3_param_id id, int32_t offset, double value) {
        for (auto& q : queues) {
            if (q->id == id) {
                q->points.emplace_back(offset, value);
                return;
            }
        }
        queues.push_back(std::make_unique<Queue>());
        queues.back()->id = id;
        queues.back()->points.emplace_back(offset, value);
    }
    v3_param_changes** ptr() { return reinterpret_cast<v3_param_changes**>(&face); }

    static Changes& of(void* self) { return Face<v3_param_changes_cpp, Changes>::of(self); }
    static v3_result V3_API query(void*, const v3_tuid, void** obj) {
        *obj = nullptr;
        return V3_NO_INTERFACE;
    }
    static int32_t V3_API count(void* self) { return static_cast<int32_t>(of(self).queues.size()); }
    static v3_param_value_queue** V3_API data(void* self, int32_t i) {
        Changes& c = of(self);
        if (i < 0 || i >= count(self)) return nullptr;
        return reinterpret_cast<v3_param_value_queue**>(&c.queues[i]->face);
    }
    static v3_param_value_queue** V3_API addData(void*, v3_param_id*, int32_t*) { return nullptr; }
    static constexpr v3_param_changes_cpp kTable = {{query, ref, unref}, {count, data, addData}};
    Face<v3_param_changes_cpp, Changes> face{&kTable, this};
};

// Records the edits as "begin 1", "perform 1 0.5", "end 1" and restarts as
// "restart FLAGS"; `answer` runs after each (a host that closes the view
// from there).
struct Handler : Counted<Handler> {
    std::vector<std::string> edits;
    std::function<void()> answer;

    v3_component_handler** ptr() { return reinterpret_cast<v3_component_handler**>(&face); }
    static Handler& of(void* self) { return Face<v3_component_handler_cpp, Handler>::of(self); }
    static v3_result V3_API query(void*, const v3_tuid, void** obj) {
        *obj = nullptr;
        return V3_NO_INTERFACE;
    }
    static v3_result note(void* self, std::string what) {
        Handler& h = of(self);
        h.edits.push_back(std::move(what));
        if (h.answer) h.answer();
        return V3_OK;
    }
    static v3_result V3_API begin(void* self, v3_param_id id) {
        return note(self, "begin " + std::to_string(id));
    }
    static v3_result V3_API perform(void* self, v3_param_id id, double value) {
        char text[64];
        std::snprintf(text, sizeof text, "perform %u %g", id, value);
        return note(self, text);
    }
    static v3_result V3_API end(void* self, v3_param_id id) {
        return note(self, "end " + std::to_string(id));
    }
    static v3_result V3_API restart(void* self, int32_t flags) {
        return note(self, "restart " + std::to_string(flags));
    }
    static constexpr v3_component_handler_cpp kTable = {{query, ref, unref},
                                                        {begin, perform, end, restart}};
    Face<v3_component_handler_cpp, Handler> face{&kTable, this};
};

// The view's frame; with `withRunLoop` it also answers IRunLoop, whose
// timers the test fires with fire().
struct Frame : Counted<Frame> {
    bool withRunLoop = true;
    std::vector<v3_view_rect> resizes;
    std::vector<v3_timer_handler**> timers;
    int runLoopRefs = 0;

    v3_plugin_frame** ptr() { return reinterpret_cast<v3_plugin_frame**>(&face); }
    void fire() {
        for (v3_timer_handler** t : std::vector<v3_timer_handler**>(timers))
            v3_cpp_obj(t)->on_timer(t);
    }

    static Frame& of(void* self) { return Face<v3_plugin_frame_cpp, Frame>::of(self); }
    static v3_result V3_API query(void* self, const v3_tuid iid, void** obj) {
        Frame& f = of(self);
        *obj = nullptr;
        if (!f.withRunLoop || !v3_tuid_match(iid, v3_run_loop_iid)) return V3_NO_INTERFACE;
        ++f.runLoopRefs;
        *obj = &f.loop;
        return V3_OK;
    }
    static uint32_t V3_API loopRef(void* self) {
        return ++Face<v3_run_loop_cpp, Frame>::of(self).runLoopRefs;
    }
    static uint32_t V3_API loopUnref(void* self) {
        return --Face<v3_run_loop_cpp, Frame>::of(self).runLoopRefs;
    }
    static v3_result V3_API resize(void* self, v3_plugin_view**, v3_view_rect* rect) {
        of(self).resizes.push_back(*rect);
        return V3_OK;
    }
    static v3_result V3_API addHandler(void*, v3_event_handler**, int) { return V3_FALSE; }
    static v3_result V3_API removeHandler(void*, v3_event_handler**) { return V3_FALSE; }
    static v3_result V3_API addTimer(void* self, v3_timer_handler** t, uint64_t) {
        Face<v3_run_loop_cpp, Frame>::of(self).timers.push_back(t);
        return V3_OK;
    }
    static v3_result V3_API removeTimer(void* self, v3_timer_handler** t) {
        auto& timers = Face<v3_run_loop_cpp, Frame>::of(self).timers;
        const auto found = std::find(timers.begin(), timers.end(), t);
        if (found == timers.end()) return V3_INVALID_ARG;
        timers.erase(found);
        return V3_OK;
    }
    static constexpr v3_plugin_frame_cpp kTable = {{query, ref, unref}, {resize}};
    static constexpr v3_run_loop_cpp kLoop = {{query, loopRef, loopUnref},
                                              {addHandler, removeHandler, addTimer, removeTimer}};
    Face<v3_plugin_frame_cpp, Frame> face{&kTable, this};
    Face<v3_run_loop_cpp, Frame> loop{&kLoop, this};
};

}  // namespace kvtest::vst3
