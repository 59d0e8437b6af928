#include "host/clap_sanity.h"

#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/timer-support.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

namespace kv::host {

namespace {

// A pipe to ourselves: write() answers EFAULT for memory it cannot read,
// where reading it here would end the process.
struct SelfPipe {
    int fds[2] = {-1, -1};
    SelfPipe() {
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) fds[0] = fds[1] = -1;
    }
    ~SelfPipe() {
        if (fds[0] >= 0) ::close(fds[0]);
        if (fds[1] >= 0) ::close(fds[1]);
    }
};

std::mutex gPipeLock;

// The fields of the records checked, in their order in CLAP's headers.
const char* const kPluginFields[] = {
    "init",  "destroy", "activate",      "deactivate",    "start_processing", "stop_processing",
    "reset", "process", "get_extension", "on_main_thread"};
const char* const kParamsFields[] = {"count",         "get_info",      "get_value",
                                     "value_to_text", "text_to_value", "flush"};
const char* const kPortsFields[] = {"count", "get"};
const char* const kStateFields[] = {"save", "load"};
const char* const kGuiFields[] = {
    "is_api_supported", "get_preferred_api", "create",           "destroy",     "set_scale",
    "get_size",         "can_resize",        "get_resize_hints", "adjust_size", "set_size",
    "set_parent",       "set_transient",     "suggest_title",    "show",        "hide"};
const char* const kTimerFields[] = {"on_timer"};
const char* const kLatencyFields[] = {"get"};

struct Known {
    const char* id;
    size_t count;
    const char* const* names;
};

const Known kExtensions[] = {
    {CLAP_EXT_PARAMS, 6, kParamsFields},       {CLAP_EXT_AUDIO_PORTS, 2, kPortsFields},
    {CLAP_EXT_STATE, 2, kStateFields},         {CLAP_EXT_GUI, 15, kGuiFields},
    {CLAP_EXT_TIMER_SUPPORT, 1, kTimerFields}, {CLAP_EXT_LATENCY, 1, kLatencyFields},
};

static_assert(sizeof(clap_plugin_params_t) == 6 * sizeof(void*));
static_assert(sizeof(clap_plugin_audio_ports_t) == 2 * sizeof(void*));
static_assert(sizeof(clap_plugin_state_t) == 2 * sizeof(void*));
static_assert(sizeof(clap_plugin_gui_t) == 15 * sizeof(void*));
static_assert(sizeof(clap_plugin_timer_support_t) == sizeof(void*));
static_assert(sizeof(clap_plugin_latency_t) == sizeof(void*));
static_assert(offsetof(clap_plugin_t, init) == 2 * sizeof(void*));
static_assert(sizeof(clap_plugin_t) == 12 * sizeof(void*));

}  // namespace

bool copyIfReadable(void* to, const void* from, size_t size) {
    if (from == nullptr) return false;
    static SelfPipe self;
    const std::lock_guard<std::mutex> hold(gPipeLock);
    if (self.fds[0] < 0) {
        // No pipe (out of descriptors): trust the pointer, as any host does.
        std::memcpy(to, from, size);
        return true;
    }
    auto* out = static_cast<char*>(to);
    const auto* in = static_cast<const char*>(from);
    while (size > 0) {
        const size_t chunk = std::min<size_t>(size, 4096);
        const ssize_t n = ::write(self.fds[1], in, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        const ssize_t back = ::read(self.fds[0], out, static_cast<size_t>(n));
        if (back != n) return false;
        in += n;
        out += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool readableText(const char* text, size_t limit, std::string& out) {
    out.clear();
    // Byte by byte up to the zero: a chunk would read past the text's end,
    // into memory that is not the text's (a sanitizer sees an overflow of
    // the plug-in's string). Descriptor texts are short.
    for (size_t at = 0; at < limit; ++at) {
        char c = 0;
        if (!copyIfReadable(&c, text + at, 1)) return false;
        if (c == '\0') return true;
        out += c;
    }
    return false;
}

std::string checkFunctions(const char* what, const void* table, size_t count,
                           const char* const* names) {
    if (table == nullptr) return std::string("its ") + what + " is null";
    std::vector<void*> functions(count);
    if (!copyIfReadable(functions.data(), table, count * sizeof(void*)))
        return std::string("its ") + what + " is at an address that cannot be read";
    for (size_t i = 0; i < count; ++i) {
        if (functions[i] == nullptr) return std::string(what) + "." + names[i] + " is null";
        Dl_info info{};
        if (::dladdr(functions[i], &info) == 0)
            return std::string(what) + "." + names[i] +
                   " points outside any loaded library (garbage where a function belongs)";
    }
    return {};
}

std::string checkPlugin(const clap_plugin_t* plugin) {
    clap_plugin_t copy{};
    if (!copyIfReadable(&copy, plugin, sizeof copy))
        return "create_plugin's answer points to memory that cannot be read";
    if (copy.desc == nullptr) return "clap_plugin.desc is null";
    clap_plugin_descriptor_t d{};
    if (!copyIfReadable(&d, copy.desc, sizeof d))
        return "clap_plugin.desc points to memory that cannot be read";
    return checkFunctions("clap_plugin", &plugin->init, 10, kPluginFields);
}

std::string checkExtension(const char* id, const void* extension) {
    for (const Known& k : kExtensions) {
        if (std::strcmp(id, k.id) == 0) return checkFunctions(id, extension, k.count, k.names);
    }
    return {};
}

}  // namespace kv::host
