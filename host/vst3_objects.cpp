#include "host/vst3_objects.h"

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <variant>

namespace kv::host::vst3 {

void* queryOf(void* face, const v3_tuid iid) {
    void* obj = nullptr;
    if ((*static_cast<v3_funknown**>(face))->query_interface(face, iid, &obj) != V3_OK)
        return nullptr;
    return obj;
}

std::string narrow(const int16_t* text, size_t size) {
    std::string s;
    for (size_t i = 0; i < size && text[i] != 0; ++i) {
        uint32_t c = static_cast<uint16_t>(text[i]);
        // A surrogate pair is one code point; a lone surrogate becomes U+FFFD.
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < size) {
            const uint32_t low = static_cast<uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (c >> 18));
            s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}

void widen(const std::string& text, int16_t* out, size_t size) {
    if (size == 0) return;
    size_t n = 0;
    for (size_t i = 0; i < text.size() && n + 1 < size;) {
        const auto b = static_cast<unsigned char>(text[i]);
        uint32_t c = b;
        size_t len = 1;
        if (b >= 0xF0 && i + 3 < text.size()) {
            c = ((b & 0x07u) << 18) | ((text[i + 1] & 0x3Fu) << 12) | ((text[i + 2] & 0x3Fu) << 6) |
                (text[i + 3] & 0x3Fu);
            len = 4;
        } else if (b >= 0xE0 && i + 2 < text.size()) {
            c = ((b & 0x0Fu) << 12) | ((text[i + 1] & 0x3Fu) << 6) | (text[i + 2] & 0x3Fu);
            len = 3;
        } else if (b >= 0xC0 && i + 1 < text.size()) {
            c = ((b & 0x1Fu) << 6) | (text[i + 1] & 0x3Fu);
            len = 2;
        }
        i += len;
        if (c >= 0x10000) {
            if (n + 2 >= size) break;
            c -= 0x10000;
            out[n++] = static_cast<int16_t>(0xD800 + (c >> 10));
            out[n++] = static_cast<int16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out[n++] = static_cast<int16_t>(c);
        }
    }
    out[n] = 0;
}

// --- IBStream ---

namespace {

v3_result V3_API noInterface(void*, const v3_tuid, void** obj) {
    if (obj) *obj = nullptr;
    return V3_NO_INTERFACE;
}

uint32_t V3_API streamRef(void* self) {
    return ++objectOf<Stream>(self).refs;
}
uint32_t V3_API streamUnref(void* self) {
    return --objectOf<Stream>(self).refs;
}

v3_result V3_API streamQuery(void* self, const v3_tuid iid, void** obj) {
    if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_bstream_iid)) {
        streamRef(self);
        *obj = self;
        return V3_OK;
    }
    return noInterface(self, iid, obj);
}

v3_result V3_API streamRead(void* self, void* buffer, int32_t size, int32_t* done) {
    Stream& s = objectOf<Stream>(self);
    if (size < 0 || (size > 0 && buffer == nullptr)) return V3_INVALID_ARG;
    const size_t n = std::min({static_cast<size_t>(size), s.chunk, s.unread()});
    if (n > 0) std::memcpy(buffer, s.bytes.data() + s.begin + s.pos, n);
    s.pos += n;
    if (done) *done = static_cast<int32_t>(n);
    return V3_OK;
}

v3_result V3_API streamWrite(void* self, void* buffer, int32_t size, int32_t* done) {
    Stream& s = objectOf<Stream>(self);
    if (size < 0 || (size > 0 && buffer == nullptr)) return V3_INVALID_ARG;
    const size_t n = std::min(static_cast<size_t>(size), s.chunk);
    const size_t at = s.begin + s.pos;
    if (s.bytes.size() < at + n) s.bytes.resize(at + n);
    if (n > 0) std::memcpy(s.bytes.data() + at, buffer, n);
    s.pos += n;
    if (done) *done = static_cast<int32_t>(n);
    return V3_OK;
}

v3_result V3_API streamSeek(void* self, int64_t to, int32_t mode, int64_t* result) {
    Stream& s = objectOf<Stream>(self);
    if (!s.canSeek) return V3_NOT_IMPLEMENTED;
    const auto size = static_cast<int64_t>(s.limit() - std::min(s.limit(), s.begin));
    int64_t base = 0;
    if (mode == V3_SEEK_CUR)
        base = static_cast<int64_t>(s.pos);
    else if (mode == V3_SEEK_END)
        base = size;
    else if (mode != V3_SEEK_SET)
        return V3_INVALID_ARG;
    if (base + to < 0 || base + to > size) return V3_INVALID_ARG;
    s.pos = static_cast<size_t>(base + to);
    if (result) *result = static_cast<int64_t>(s.pos);
    return V3_OK;
}

v3_result V3_API streamTell(void* self, int64_t* pos) {
    Stream& s = objectOf<Stream>(self);
    if (!s.canSeek) return V3_NOT_IMPLEMENTED;
    if (!pos) return V3_INVALID_ARG;
    *pos = static_cast<int64_t>(s.pos);
    return V3_OK;
}

struct v3_bstream_table : v3_funknown {
    v3_bstream stream;
};
const v3_bstream_table kStream = {{streamQuery, streamRef, streamUnref},
                                  {streamRead, streamWrite, streamSeek, streamTell}};

}  // namespace

Stream::Stream() : face{&kStream, this} {}

// --- IParameterChanges and its queues ---

namespace {

uint32_t V3_API changesRef(void* self) {
    return ++objectOf<ParamChanges>(self).refs;
}
uint32_t V3_API changesUnref(void* self) {
    return --objectOf<ParamChanges>(self).refs;
}
uint32_t V3_API queueRef(void* self) {
    return ++objectOf<ParamChanges::Queue>(self).owner->refs;
}
uint32_t V3_API queueUnref(void* self) {
    return --objectOf<ParamChanges::Queue>(self).owner->refs;
}

v3_param_id V3_API queueId(void* self) {
    return objectOf<ParamChanges::Queue>(self).id;
}
int32_t V3_API queueCount(void* self) {
    return static_cast<int32_t>(objectOf<ParamChanges::Queue>(self).points.size());
}
v3_result V3_API queuePoint(void* self, int32_t index, int32_t* offset, double* value) {
    const auto& q = objectOf<ParamChanges::Queue>(self);
    if (index < 0 || static_cast<size_t>(index) >= q.points.size() || !offset || !value)
        return V3_INVALID_ARG;
    *offset = q.points[static_cast<size_t>(index)].first;
    *value = q.points[static_cast<size_t>(index)].second;
    return V3_OK;
}
v3_result V3_API queueAdd(void* self, int32_t offset, double value, int32_t* index) {
    auto& q = objectOf<ParamChanges::Queue>(self);
    if (q.points.size() == q.points.capacity()) return V3_NOMEM;
    q.points.emplace_back(offset, value);
    if (index) *index = static_cast<int32_t>(q.points.size() - 1);
    return V3_OK;
}

const v3_param_value_queue_cpp kQueue = {{noInterface, queueRef, queueUnref},
                                         {queueId, queueCount, queuePoint, queueAdd}};

int32_t V3_API changesCount(void* self) {
    return static_cast<int32_t>(objectOf<ParamChanges>(self).queueCount());
}
v3_param_value_queue** V3_API changesData(void* self, int32_t index) {
    auto& c = objectOf<ParamChanges>(self);
    if (index < 0 || static_cast<size_t>(index) >= c.queueCount()) return nullptr;
    return reinterpret_cast<v3_param_value_queue**>(
        &const_cast<ParamChanges::Queue&>(c.queue(static_cast<size_t>(index))).face);
}
v3_param_value_queue** V3_API changesAdd(void* self, v3_param_id* id, int32_t* index) {
    auto& c = objectOf<ParamChanges>(self);
    if (!id) return nullptr;
    ParamChanges::Queue* q = c.find(*id, true);
    if (!q) return nullptr;
    if (index) *index = static_cast<int32_t>(q - &c.queue(0));
    return reinterpret_cast<v3_param_value_queue**>(&q->face);
}

const v3_param_changes_cpp kChanges = {{noInterface, changesRef, changesUnref},
                                       {changesCount, changesData, changesAdd}};

}  // namespace

ParamChanges::ParamChanges() : face_{&kChanges, this} {}

void ParamChanges::reserve(size_t queues, size_t pointsPerQueue) {
    queues_.resize(std::max(queues, queues_.size()));
    pointRoom_ = std::max(pointRoom_, pointsPerQueue);
    for (Queue& q : queues_) {
        q.owner = this;
        q.face = {&kQueue, &q};
        q.points.reserve(pointRoom_);
    }
    used_ = 0;
}

void ParamChanges::clear() {
    for (size_t i = 0; i < used_; ++i)
        queues_[i].points.clear();
    used_ = 0;
}

ParamChanges::Queue* ParamChanges::find(v3_param_id id, bool create) {
    for (size_t i = 0; i < used_; ++i) {
        if (queues_[i].id == id) return &queues_[i];
    }
    if (!create || used_ == queues_.size()) return nullptr;
    Queue& q = queues_[used_++];
    q.id = id;
    q.points.clear();
    return &q;
}

bool ParamChanges::add(v3_param_id id, int32_t offset, double value) {
    Queue* q = find(id, true);
    if (!q || q->points.size() == q->points.capacity()) return false;
    q->points.emplace_back(offset, value);
    return true;
}

// --- Messages: IMessage with its IAttributeList, freed at the last release ---

namespace {

std::atomic<int> gLiveMessages{0};

struct Attributes {
    using Value = std::variant<int64_t, double, std::vector<int16_t>, std::vector<uint8_t>>;
    std::map<std::string, Value> values;
};

struct Message {
    Message();
    ~Message() { --gLiveMessages; }
    Face<Message> face;
    Face<Message> listFace;
    std::atomic<uint32_t> refs{1};
    std::string id;
    Attributes attributes;
};

uint32_t V3_API messageRef(void* self) {
    return ++objectOf<Message>(self).refs;
}
uint32_t V3_API messageUnref(void* self) {
    Message& m = objectOf<Message>(self);
    const uint32_t left = --m.refs;
    if (left == 0) delete &m;
    return left;
}

v3_result V3_API messageQuery(void* self, const v3_tuid iid, void** obj) {
    Message& m = objectOf<Message>(self);
    if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_message_iid)) {
        *obj = &m.face;
    } else if (v3_tuid_match(iid, v3_attribute_list_iid)) {
        *obj = &m.listFace;
    } else {
        return noInterface(self, iid, obj);
    }
    ++m.refs;
    return V3_OK;
}

const char* V3_API messageId(void* self) {
    return objectOf<Message>(self).id.c_str();
}
void V3_API setMessageId(void* self, const char* id) {
    objectOf<Message>(self).id = id ? id : "";
}
v3_attribute_list** V3_API messageAttributes(void* self) {
    // Not a new reference: the list lives as long as its message.
    return reinterpret_cast<v3_attribute_list**>(&objectOf<Message>(self).listFace);
}

template <typename T>
v3_result setAttribute(void* self, const char* id, T value) {
    if (!id) return V3_INVALID_ARG;
    objectOf<Message>(self).attributes.values[id] = std::move(value);
    return V3_OK;
}
template <typename T>
const T* attribute(void* self, const char* id) {
    if (!id) return nullptr;
    auto& values = objectOf<Message>(self).attributes.values;
    const auto found = values.find(id);
    return found == values.end() ? nullptr : std::get_if<T>(&found->second);
}

v3_result V3_API setInt(void* self, const char* id, int64_t v) {
    return setAttribute(self, id, v);
}
v3_result V3_API getInt(void* self, const char* id, int64_t* v) {
    const auto* a = attribute<int64_t>(self, id);
    if (!a || !v) return V3_FALSE;
    *v = *a;
    return V3_OK;
}
v3_result V3_API setFloat(void* self, const char* id, double v) {
    return setAttribute(self, id, v);
}
v3_result V3_API getFloat(void* self, const char* id, double* v) {
    const auto* a = attribute<double>(self, id);
    if (!a || !v) return V3_FALSE;
    *v = *a;
    return V3_OK;
}
v3_result V3_API setString(void* self, const char* id, const int16_t* text) {
    if (!text) return V3_INVALID_ARG;
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return setAttribute(self, id, std::vector<int16_t>(text, text + n + 1));
}
v3_result V3_API getString(void* self, const char* id, int16_t* text, uint32_t size) {
    const auto* a = attribute<std::vector<int16_t>>(self, id);
    // `size` is in bytes, as the SDK's attribute list counts it.
    const size_t room = size / sizeof(int16_t);
    if (!a || !text || room == 0) return V3_FALSE;
    const size_t n = std::min(room - 1, a->size() - 1);
    std::memcpy(text, a->data(), n * sizeof(int16_t));
    text[n] = 0;
    return V3_OK;
}
v3_result V3_API setBinary(void* self, const char* id, const void* data, uint32_t size) {
    if (!data && size > 0) return V3_INVALID_ARG;
    const auto* p = static_cast<const uint8_t*>(data);
    return setAttribute(self, id, std::vector<uint8_t>(p, p + size));
}
v3_result V3_API getBinary(void* self, const char* id, const void** data, uint32_t* size) {
    const auto* a = attribute<std::vector<uint8_t>>(self, id);
    if (!a || !data || !size) return V3_FALSE;
    *data = a->data();
    *size = static_cast<uint32_t>(a->size());
    return V3_OK;
}

const v3_message_cpp kMessage = {{messageQuery, messageRef, messageUnref},
                                 {messageId, setMessageId, messageAttributes}};
const v3_attribute_list_cpp kAttributes = {
    {messageQuery, messageRef, messageUnref},
    {setInt, getInt, setFloat, getFloat, setString, getString, setBinary, getBinary}};

Message::Message() : face{&kMessage, this}, listFace{&kAttributes, this} {
    ++gLiveMessages;
}

// --- The host's own objects ---

HostServices& services(void* self) {
    return objectOf<HostServices>(self);
}

}  // namespace

struct HostServices::App {
    static v3_result V3_API query(void* self, const v3_tuid iid, void** obj) {
        if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_host_application_iid)) {
            ref(self);
            *obj = self;
            return V3_OK;
        }
        return noInterface(self, iid, obj);
    }
    static uint32_t V3_API ref(void* self) { return ++services(self).appRefs_; }
    static uint32_t V3_API unref(void* self) { return --services(self).appRefs_; }
    static v3_result V3_API name(void*, v3_str_128 name) {
        widen("kv23", name, 128);
        return V3_OK;
    }
    static v3_result V3_API create(void*, v3_tuid cid, v3_tuid iid, void** obj) {
        if (!obj) return V3_INVALID_ARG;
        *obj = nullptr;
        // Messages (and attribute lists, which come with one) are all a
        // host makes for a plug-in.
        const bool message =
            v3_tuid_match(cid, v3_message_iid) && v3_tuid_match(iid, v3_message_iid);
        const bool list =
            v3_tuid_match(cid, v3_attribute_list_iid) && v3_tuid_match(iid, v3_attribute_list_iid);
        if (!message && !list) return V3_NO_INTERFACE;
        auto* m = new (std::nothrow) Message();
        if (!m) return V3_NOMEM;
        *obj = message ? static_cast<void*>(&m->face) : static_cast<void*>(&m->listFace);
        return V3_OK;
    }
};

struct HostServices::Handler {
    static v3_result V3_API query(void* self, const v3_tuid iid, void** obj) {
        if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_component_handler_iid)) {
            ref(self);
            *obj = self;
            return V3_OK;
        }
        return noInterface(self, iid, obj);
    }
    static uint32_t V3_API ref(void* self) { return ++services(self).handlerRefs_; }
    static uint32_t V3_API unref(void* self) { return --services(self).handlerRefs_; }
    static v3_result V3_API begin(void* self, v3_param_id id) {
        if (HostEvents* e = services(self).events_) e->beginEdit(id);
        return V3_OK;
    }
    static v3_result V3_API perform(void* self, v3_param_id id, double value) {
        if (HostEvents* e = services(self).events_) e->performEdit(id, value);
        return V3_OK;
    }
    static v3_result V3_API end(void* self, v3_param_id id) {
        if (HostEvents* e = services(self).events_) e->endEdit(id);
        return V3_OK;
    }
    static v3_result V3_API restart(void* self, int32_t flags) {
        if (HostEvents* e = services(self).events_) e->restartComponent(flags);
        return V3_OK;
    }
};

struct HostServices::Frame {
    static v3_result V3_API query(void* self, const v3_tuid iid, void** obj) {
        HostServices& h = services(self);
        if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_frame_iid)) {
            ++h.frameRefs_;
            *obj = &h.frame_;
            return V3_OK;
        }
        if (h.runLoop && v3_tuid_match(iid, v3_run_loop_iid)) {
            ++h.loopRefs_;
            *obj = &h.loop_;
            return V3_OK;
        }
        return noInterface(self, iid, obj);
    }
    static uint32_t V3_API ref(void* self) { return ++services(self).frameRefs_; }
    static uint32_t V3_API unref(void* self) { return --services(self).frameRefs_; }
    static v3_result V3_API resize(void* self, v3_plugin_view** view, v3_view_rect* rect) {
        if (!view || !rect) return V3_INVALID_ARG;
        HostEvents* e = services(self).events_;
        return e && e->resizeView(view, *rect) ? V3_OK : V3_FALSE;
    }

    // IRunLoop: its own count, so that a plug-in's balance shows.
    static uint32_t V3_API loopRef(void* self) { return ++services(self).loopRefs_; }
    static uint32_t V3_API loopUnref(void* self) { return --services(self).loopRefs_; }
    static v3_result V3_API addHandler(void* self, v3_event_handler** handler, int fd) {
        HostServices& h = services(self);
        if (!handler || fd < 0) return V3_INVALID_ARG;
        for (const FdHandler& f : h.fdHandlers_) {
            // One handler per descriptor, as GLib's watches in Ardour.
            if (f.fd == fd) return V3_FALSE;
        }
        refOf(handler);
        h.fdHandlers_.push_back({handler, fd});
        return V3_OK;
    }
    static v3_result V3_API removeHandler(void* self, v3_event_handler** handler) {
        auto& all = services(self).fdHandlers_;
        const auto found = std::find_if(all.begin(), all.end(),
                                        [&](const FdHandler& f) { return f.handler == handler; });
        if (found == all.end()) return V3_INVALID_ARG;
        all.erase(found);
        unrefOf(handler);
        return V3_OK;
    }
    static v3_result V3_API addTimer(void* self, v3_timer_handler** handler, uint64_t ms) {
        HostServices& h = services(self);
        if (!handler) return V3_INVALID_ARG;
        // A period of 0 would spin; hosts raise it to a tick.
        const auto period = std::chrono::milliseconds(std::clamp<uint64_t>(ms, 1, 60000));
        refOf(handler);
        h.timers_.push_back({handler, period, std::chrono::steady_clock::now() + period});
        return V3_OK;
    }
    static v3_result V3_API removeTimer(void* self, v3_timer_handler** handler) {
        auto& all = services(self).timers_;
        const auto found = std::find_if(all.begin(), all.end(),
                                        [&](const Timer& t) { return t.handler == handler; });
        if (found == all.end()) return V3_INVALID_ARG;
        all.erase(found);
        unrefOf(handler);
        return V3_OK;
    }
};

namespace {

const v3_host_application_cpp kApp = {
    {HostServices::App::query, HostServices::App::ref, HostServices::App::unref},
    {HostServices::App::name, HostServices::App::create}};
struct v3_component_handler_table : v3_funknown {
    v3_component_handler handler;
};
const v3_component_handler_table kHandler = {
    {HostServices::Handler::query, HostServices::Handler::ref, HostServices::Handler::unref},
    {HostServices::Handler::begin, HostServices::Handler::perform, HostServices::Handler::end,
     HostServices::Handler::restart}};
const v3_plugin_frame_cpp kFrame = {
    {HostServices::Frame::query, HostServices::Frame::ref, HostServices::Frame::unref},
    {HostServices::Frame::resize}};
const v3_run_loop_cpp kLoop = {
    {HostServices::Frame::query, HostServices::Frame::loopRef, HostServices::Frame::loopUnref},
    {HostServices::Frame::addHandler, HostServices::Frame::removeHandler,
     HostServices::Frame::addTimer, HostServices::Frame::removeTimer}};

}  // namespace

HostServices::HostServices(HostEvents& events)
    : events_(&events),
      app_{&kApp, this},
      handler_{&kHandler, this},
      frame_{&kFrame, this},
      loop_{&kLoop, this} {
    // Room for what a view registers, so that opening one allocates
    // nothing on the host's side (the allocation checks count the plug-in's).
    timers_.reserve(16);
    fdHandlers_.reserve(16);
}

HostServices::~HostServices() {
    releaseRegistrations();
}

size_t HostServices::releaseRegistrations() {
    const size_t left = timers_.size() + fdHandlers_.size();
    const std::vector<Timer> timers = std::move(timers_);
    const std::vector<FdHandler> handlers = std::move(fdHandlers_);
    timers_.clear();
    fdHandlers_.clear();
    for (const Timer& t : timers)
        unrefOf(t.handler);
    for (const FdHandler& f : handlers)
        unrefOf(f.handler);
    return left;
}

int HostServices::liveMessages() {
    return gLiveMessages.load();
}

int HostServices::runLoopTick(bool onlyDue) {
    using Clock = std::chrono::steady_clock;
    const auto timed = [this](auto call) {
        const auto start = Clock::now();
        call();
        const auto took =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
        if (took > longest_)
            second_ = std::exchange(longest_, took);
        else
            second_ = std::max(second_, took);
    };
    // A handler may unregister itself or another: walk copies, and call
    // only those still registered.
    const std::vector<FdHandler> handlers = fdHandlers_;
    for (const FdHandler& f : handlers) {
        pollfd p{f.fd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || (p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        const bool still = std::any_of(fdHandlers_.begin(), fdHandlers_.end(),
                                       [&](const FdHandler& g) { return g.handler == f.handler; });
        if (still) timed([&] { v3_cpp_obj(f.handler)->on_fd_is_set(f.handler, f.fd); });
    }
    const std::vector<Timer> timers = timers_;
    for (const Timer& t : timers) {
        const auto now = Clock::now();
        if (onlyDue && now < t.next) continue;
        auto still = std::find_if(timers_.begin(), timers_.end(),
                                  [&](const Timer& u) { return u.handler == t.handler; });
        if (still == timers_.end()) continue;
        still->next = now + still->period;
        timed([&] { v3_cpp_obj(t.handler)->on_timer(t.handler); });
    }
    auto wait = std::chrono::milliseconds(100);
    const auto now = Clock::now();
    for (const Timer& t : timers_)
        wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::max(t.next - now, Clock::duration::zero())));
    return static_cast<int>(wait.count());
}

}  // namespace kv::host::vst3
