// What a VST 2 plug-in's editor costs a Linux host, for any plug-in: this
// program is the host. It loads the plug-in file (VSTPluginMain, or the
// legacy `main`), embeds the editor in a window of its own on the X server in
// $DISPLAY and prints, one "key value" per line:
//   - effEditOpen until the editor's first frame is on the screen, for the
//     first open of this process and for later opens (median of the rest),
//     in wall time and in this process's CPU time (which a busy machine
//     does not stretch);
//   - with the editor open and idle at 50 effEditIdle calls a second: the CPU
//     share of this process (all of it; the same paced loop calling nothing,
//     which is the host's own waking; the difference, which is the editor's;
//     and the part spent inside the idle calls, less the same clock reads
//     around no call) and of the X server (given by --server-pid), and
//     the bytes and write calls this process sends per idle (everything it
//     writes then goes to the X server);
//   - the wall time of one idle call, median and 99th percentile, paced as
//     above (each call after 20 ms of sleep, with caches gone cold) and back
//     to back (hot);
//   - the threads the editor added to the process, and what they did while
//     it idled: wake-ups (context switches) a second and CPU share; and the
//     process's virtual and resident memory with the editor open.
//
//   editor_bench PLUGIN.so [--seconds S] [--opens N] [--server-pid PID]
//                [--host-fontconfig] [--scale F] [--exposes N]
//
// --host-fontconfig sets up fontconfig before loading the plug-in, as every
// GTK or Qt host has done by then. --scale sends the host's scale factor for
// dense screens ('PreS' / 'AeCs') before the editor is asked for its size.
// --exposes has the host ask N times a second, while the editor idles, for a
// one-pixel corner of the editor's window to be repainted (as a window
// passing over it would), so that the editor has events to read.
//
// "First frame": the host window's background is an odd colour; the frame
// is there when at most 1 % of the editor's rectangle still shows it. The
// host idles the editor back to back while it waits, so the figure is the
// editor's own time, not a host's idle period. Its looks at the screen come
// through a shared memory segment made and touched before any timing (where
// the server has MIT-SHM): a look that receives and allocates a fresh copy of
// the window each time costs milliseconds of its own, mostly fresh pages.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vst2/base/aeffect.h"

namespace {

using Wall = std::chrono::steady_clock;
constexpr unsigned long kHostBackground = 0x13a57e;

intptr_t host(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
    switch (opcode) {
        case audioMasterVersion:
            return 2400;
        case audioMasterGetSampleRate:
            return 48000;
        case audioMasterGetBlockSize:
            return 256;
        case audioMasterCanDo:
            return ptr && std::strcmp(static_cast<const char*>(ptr), "sizeWindow") == 0 ? 1 : 0;
        case audioMasterSizeWindow:
            return 1;
        default:
            return 0;
    }
}

double since(Wall::time_point start) {
    return std::chrono::duration<double>(Wall::now() - start).count();
}

double processCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU time of another process, all threads, in seconds; from the
// scheduler's nanosecond counters, which resolve far below a clock tick.
double otherCpu(long pid) {
    if (pid <= 0) return 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir) return -1;
    double total = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
        double ns = 0;
        if (stat >> ns) total += ns * 1e-9;
    }
    closedir(dir);
    return total;
}

// Bytes and write calls of this process so far (/proc/self/io).
struct Writes {
    long long bytes = 0, calls = 0;
};
Writes writesSoFar() {
    Writes w;
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "wchar:") w.bytes = value;
        if (key == "syscw:") w.calls = value;
    }
    return w;
}

// Reads the window's pixels for the waiting loop.
class ScreenReader {
  public:
    // For pictures up to width x height.
    ScreenReader(Display* dpy, int width, int height)
        : dpy_(dpy),
          visual_(DefaultVisual(dpy, DefaultScreen(dpy))),
          depth_(static_cast<unsigned>(DefaultDepth(dpy, DefaultScreen(dpy)))) {
        if (!XShmQueryExtension(dpy)) return;
        capacity_ = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
        segment_.shmid = shmget(IPC_PRIVATE, capacity_, IPC_CREAT | 0600);
        if (segment_.shmid < 0) return;
        void* at = shmat(segment_.shmid, nullptr, 0);
        shmctl(segment_.shmid, IPC_RMID, nullptr);  // gone once both sides detach
        if (at == reinterpret_cast<void*>(-1)) return;
        segment_.shmaddr = static_cast<char*>(at);
        std::memset(segment_.shmaddr, 0, capacity_);  // every page touched now, not while timing
        attached_ = XShmAttach(dpy, &segment_);
        XSync(dpy, False);
    }
    ~ScreenReader() {
        if (attached_) XShmDetach(dpy_, &segment_);
        if (segment_.shmaddr) shmdt(segment_.shmaddr);
    }

    // Share of the top-left width x height of `window` that still shows the
    // host's background.
    double uncovered(Window window, int width, int height) {
        XImage* image = nullptr;
        bool shared = false;
        if (attached_) {
            image = XShmCreateImage(dpy_, visual_, depth_, ZPixmap, segment_.shmaddr, &segment_,
                                    static_cast<unsigned>(width), static_cast<unsigned>(height));
            shared = image &&
                     static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(height) <=
                         capacity_ &&
                     XShmGetImage(dpy_, window, image, 0, 0, AllPlanes);
            if (!shared && image) release(image, true);
        }
        if (!shared) {
            image = XGetImage(dpy_, window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
        }
        if (!image) return 1.0;
        long bare = 0;
        // Read the usual 32-bit pixels in place: XGetPixel for each of them
        // would cost the waiting loop more than many an editor's whole frame.
        const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst;
        for (int y = 0; y < height; ++y) {
            const auto* row =
                reinterpret_cast<const uint32_t*>(image->data + y * image->bytes_per_line);
            for (int x = 0; x < width; ++x) {
                const unsigned long pixel = direct ? row[x] : XGetPixel(image, x, y);
                if ((pixel & 0xffffff) == kHostBackground) ++bare;
            }
        }
        release(image, shared);
        return static_cast<double>(bare) / (static_cast<double>(width) * height);
    }

  private:
    static void release(XImage* image, bool shared) {
        if (shared) image->data = nullptr;  // the segment's, not Xlib's to free
        XDestroyImage(image);
    }

    Display* dpy_;
    Visual* visual_;
    unsigned depth_;
    XShmSegmentInfo segment_{};
    size_t capacity_ = 0;
    bool attached_ = false;
};

double percentile(std::vector<double> v, double share) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(share * static_cast<double>(v.size())))];
}

double median(std::vector<double> v) {
    return percentile(std::move(v), 0.5);
}

// The thread ids of this process.
std::vector<std::string> threadIds() {
    std::vector<std::string> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ids.emplace_back(entry->d_name);
        closedir(dir);
    }
    return ids;
}

// Context switches and CPU seconds of the given threads so far.
struct ThreadUse {
    long long switches = 0;
    double cpu = 0;
};
ThreadUse threadUse(const std::vector<std::string>& ids) {
    ThreadUse use;
    for (const std::string& id : ids) {
        std::ifstream status("/proc/self/task/" + id + "/status");
        std::string key;
        while (status >> key) {
            long long n = 0;
            if ((key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") &&
                status >> n)
                use.switches += n;
        }
        std::ifstream stat("/proc/self/task/" + id + "/schedstat");
        double ns = 0;
        if (stat >> ns) use.cpu += ns * 1e-9;
    }
    return use;
}

// A "VmSize:" or "VmRSS:" line of /proc/self/status, in KiB.
long statusKib(const std::string& wanted) {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key)
        if (key == wanted && status >> value) return value;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* usage =
        "usage: editor_bench PLUGIN.so [--seconds S] [--opens N] [--server-pid PID] "
        "[--host-fontconfig] [--scale F] [--exposes N]\n";
    if (argc < 2 || !std::strcmp(argv[1], "--help")) {
        std::fputs(usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    double seconds = 5.0;
    int opens = 5;
    long serverPid = 0;
    bool hostFonts = false;
    double scale = 0.0;  // the host's factor for dense screens; 0 sends none
    double exposes = 0.0;
    for (int i = 2; i < argc; ++i) {
        const bool valued = i + 1 < argc;
        if (!std::strcmp(argv[i], "--host-fontconfig")) {
            hostFonts = true;
        } else if (valued && !std::strcmp(argv[i], "--seconds")) {
            seconds = std::atof(argv[++i]);
        } else if (valued && !std::strcmp(argv[i], "--opens")) {
            opens = std::max(2, std::atoi(argv[++i]));
        } else if (valued && !std::strcmp(argv[i], "--server-pid")) {
            serverPid = std::atol(argv[++i]);
        } else if (valued && !std::strcmp(argv[i], "--scale")) {
            scale = std::atof(argv[++i]);
        } else if (valued && !std::strcmp(argv[i], "--exposes")) {
            exposes = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "editor_bench: unknown option %s\n", argv[i]);
            return 2;
        }
    }

    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "editor_bench: no X display\n");
        return 77;
    }
    // A GTK or Qt host has set up fontconfig long before it loads a
    // plug-in; this one does the same on request, so that a plug-in's
    // first open can be timed as such a host sees it.
    if (hostFonts) {
        void* fontconfig = dlopen("libfontconfig.so.1", RTLD_NOW | RTLD_GLOBAL);
        auto init = fontconfig ? reinterpret_cast<int (*)()>(dlsym(fontconfig, "FcInit")) : nullptr;
        if (!init || !init()) {
            std::fprintf(stderr, "editor_bench: cannot set up fontconfig\n");
            return 1;
        }
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    using Entry = AEffect* (*)(audioMasterCallback);
    Entry entry = nullptr;
    if (library) {
        entry = reinterpret_cast<Entry>(dlsym(library, "VSTPluginMain"));
        if (!entry) entry = reinterpret_cast<Entry>(dlsym(library, "main"));
    }
    AEffect* fx = entry ? entry(&host) : nullptr;
    if (!fx || !(fx->flags & effFlagsHasEditor)) {
        std::fprintf(stderr, "editor_bench: %s: %s\n", argv[1],
                     library ? (fx ? "no editor" : "no instance") : dlerror());
        return 1;
    }
    auto dispatch = [fx](int32_t op, intptr_t value = 0, void* ptr = nullptr) {
        return fx->dispatcher(fx, op, 0, value, ptr, 0.f);
    };
    dispatch(effOpen);
    fx->dispatcher(fx, effSetSampleRate, 0, 0, nullptr, 48000.f);
    dispatch(effSetBlockSize, 256);
    dispatch(effMainsChanged, 1);
    const std::vector<std::string> hostThreads = threadIds();
    // As Carla does: the factor before the editor is asked for its size.
    if (scale > 0.0)
        fx->dispatcher(fx, effVendorSpecific, kvFourCC('P', 'r', 'e', 'S'),
                       kvFourCC('A', 'e', 'C', 's'), nullptr, static_cast<float>(scale));

    // The editor's size; some editors know it only once open.
    auto editorSize = [&](int& w, int& h) {
        ERect* r = nullptr;
        dispatch(effEditGetRect, 0, &r);
        w = r ? r->right - r->left : 0;
        h = r ? r->bottom - r->top : 0;
    };
    int width = 0, height = 0;
    editorSize(width, height);
    const int screen = DefaultScreen(dpy);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = kHostBackground;
    attributes.override_redirect = True;
    const Window window = XCreateWindow(
        dpy, RootWindow(dpy, screen), 0, 0, static_cast<unsigned>(std::max(width, 640)),
        static_cast<unsigned>(std::max(height, 480)), 0, CopyFromParent, InputOutput,
        CopyFromParent, CWBackPixel | CWOverrideRedirect, &attributes);
    XMapWindow(dpy, window);
    XSync(dpy, False);
    XWindowAttributes shown{};
    XGetWindowAttributes(dpy, window, &shown);
    auto reader = std::make_unique<ScreenReader>(dpy, shown.width, shown.height);
    reader->uncovered(window, shown.width, shown.height);  // the server's first look, untimed

    // Wall time and this process's CPU time of one open; the waiting loop's
    // own screen reads count in both (a few hundred microseconds a look).
    struct Open {
        double wall, cpu;
    };
    auto openOnce = [&]() {
        XClearWindow(dpy, window);
        XSync(dpy, False);
        const double cpuStart = processCpu();
        const auto start = Wall::now();
        dispatch(effEditOpen, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(window)));
        editorSize(width, height);
        const int w = std::max(width, 1), h = std::max(height, 1);
        while (reader->uncovered(window, w, h) > 0.01 && since(start) < 5.0)
            dispatch(effEditIdle);
        return Open{since(start), processCpu() - cpuStart};
    };
    const Open firstOpen = openOnce();
    std::vector<double> later, laterCpu;
    for (int i = 1; i < opens; ++i) {
        dispatch(effEditClose);
        const Open o = openOnce();
        later.push_back(o.wall);
        laterCpu.push_back(o.cpu);
    }

    // Settle, then idle at 50 calls a second as a host does.
    for (int i = 0; i < 25; ++i) {
        dispatch(effEditIdle);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The host's own share: the same paced loop with the same clock reads,
    // calling nothing. What the open editor adds is the difference.
    struct Paced {
        double wall = 0, cpu = 0, inCalls = 0;
        long calls = 0;
        std::vector<double> callWall;  // each idle call's wall time
        void add(const Paced& o) {
            wall += o.wall;
            cpu += o.cpu;
            inCalls += o.inCalls;
            calls += o.calls;
            callWall.insert(callWall.end(), o.callWall.begin(), o.callWall.end());
        }
    };
    // The editor's window: the host window's first child.
    Window editorWindow = 0;
    {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(dpy, window, &root, &parent, &children, &count) && count > 0)
            editorWindow = children[0];
        if (children) XFree(children);
    }
    const long exposeEvery = exposes > 0 ? std::max(1L, std::lround(50.0 / exposes)) : 0;
    auto paced = [&](bool idle, double length) {
        Paced p;
        const double cpuBefore = processCpu();
        const auto wallStart = Wall::now();
        auto next = wallStart;
        while (since(wallStart) < length) {
            const double before = processCpu();
            if (idle && editorWindow && exposeEvery && p.calls % exposeEvery == 0) {
                XClearArea(dpy, editorWindow, 0, 0, 1, 1, True);
                XFlush(dpy);
            }
            if (idle) {
                const auto callStart = Wall::now();
                dispatch(effEditIdle);
                p.callWall.push_back(since(callStart));
            }
            p.inCalls += processCpu() - before;
            ++p.calls;
            next += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(next);
        }
        p.wall = since(wallStart);
        p.cpu = processCpu() - cpuBefore;
        return p;
    };
    // The two loops take turns, often, so that whatever else the machine
    // does meanwhile falls on both alike.
    constexpr int kRounds = 10;
    Paced hostOnly, withEditor;
    double server = 0;
    Writes written;
    // The threads the editor added (present now, not before the first open).
    std::vector<std::string> editorThreads;
    for (const std::string& id : threadIds())
        if (std::find(hostThreads.begin(), hostThreads.end(), id) == hostThreads.end())
            editorThreads.push_back(id);
    ThreadUse threadsIdling;
    for (int round = 0; round < kRounds; ++round) {
        hostOnly.add(paced(false, seconds / kRounds));
        dispatch(effEditIdle);  // whatever waited meanwhile
        const Writes writesBefore = writesSoFar();
        const double serverBefore = otherCpu(serverPid);
        const ThreadUse threadsBefore = threadUse(editorThreads);
        withEditor.add(paced(true, seconds / kRounds));
        const ThreadUse threadsAfter = threadUse(editorThreads);
        threadsIdling.switches += threadsAfter.switches - threadsBefore.switches;
        threadsIdling.cpu += threadsAfter.cpu - threadsBefore.cpu;
        server += otherCpu(serverPid) - serverBefore;
        const Writes writesAfter = writesSoFar();
        written.bytes += writesAfter.bytes - writesBefore.bytes;
        written.calls += writesAfter.calls - writesBefore.calls;
    }
    std::vector<double> hotWall;  // back to back: the idle's code and data stay in cache
    for (int i = 0; i < 2000; ++i) {
        const auto callStart = Wall::now();
        dispatch(effEditIdle);
        hotWall.push_back(since(callStart));
    }
    const long vmKib = statusKib("VmSize:"), rssKib = statusKib("VmRSS:");
    const double wall = withEditor.wall;
    const long idles = withEditor.calls;
    const double clockReads =
        hostOnly.calls > 0 ? hostOnly.inCalls / static_cast<double>(hostOnly.calls) : 0;

    dispatch(effEditClose);
    dispatch(effMainsChanged, 0);
    dispatch(effClose);
    reader.reset();
    XDestroyWindow(dpy, window);
    XCloseDisplay(dpy);

    std::printf("editor_size %dx%d\n", width, height);
    std::printf("open_first_ms %.2f\n", firstOpen.wall * 1e3);
    std::printf("open_first_cpu_ms %.2f\n", firstOpen.cpu * 1e3);
    std::printf("open_later_ms %.2f\n", median(later) * 1e3);
    std::printf("open_later_cpu_ms %.2f\n", median(laterCpu) * 1e3);
    std::printf("open_later_min_ms %.2f\n", *std::min_element(later.begin(), later.end()) * 1e3);
    std::printf("idle_calls %ld\n", idles);
    std::printf("idle_process_cpu_pct %.3f\n", withEditor.cpu / wall * 100.0);
    std::printf("idle_host_loop_cpu_pct %.3f\n", hostOnly.cpu / hostOnly.wall * 100.0);
    std::printf("idle_editor_cpu_pct %.3f\n",
                (withEditor.cpu / wall - hostOnly.cpu / hostOnly.wall) * 100.0);
    std::printf("idle_in_calls_cpu_pct %.3f\n",
                (withEditor.inCalls - clockReads * static_cast<double>(idles)) / wall * 100.0);
    std::printf("idle_call_us_median %.2f\n", median(withEditor.callWall) * 1e6);
    std::printf("idle_call_us_p99 %.2f\n", percentile(withEditor.callWall, 0.99) * 1e6);
    std::printf("idle_call_hot_us_median %.2f\n", median(hotWall) * 1e6);
    std::printf("idle_call_hot_us_p99 %.2f\n", percentile(hotWall, 0.99) * 1e6);
    std::printf("editor_threads %zu\n", editorThreads.size());
    std::printf("editor_thread_wakeups_per_s %.2f\n",
                static_cast<double>(threadsIdling.switches) / wall);
    std::printf("editor_thread_cpu_pct %.4f\n", threadsIdling.cpu / wall * 100.0);
    std::printf("editor_open_vm_kib %ld\n", vmKib);
    std::printf("editor_open_rss_kib %ld\n", rssKib);
    if (serverPid > 0) std::printf("idle_server_cpu_pct %.3f\n", server / wall * 100.0);
    std::printf("idle_bytes_per_idle %.1f\n",
                static_cast<double>(written.bytes) / static_cast<double>(idles));
    std::printf("idle_writes_per_idle %.3f\n",
                static_cast<double>(written.calls) / static_cast<double>(idles));
    return 0;
}
