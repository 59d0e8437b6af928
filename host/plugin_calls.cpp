#include "host/plugin_calls.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace kv::host {

namespace {

using Clock = std::chrono::steady_clock;

// Only the outermost call of a thread is timed; the loading thread is the
// one that matters (a plug-in's audio calls are the checks' business).
thread_local int tDepth = 0;

std::mutex gLock;
const char* gName = nullptr;  // under gLock
Clock::duration gSince{};     // under gLock: since the clock's epoch
uint64_t gSerial = 0;         // under gLock: one number per outer call
char* gShared = nullptr;
size_t gSharedSize = 0;

}  // namespace

PluginCall::PluginCall(const char* name) : outer_(tDepth++ == 0) {
    if (!outer_) return;
    const std::lock_guard<std::mutex> hold(gLock);
    gName = name;
    gSince = Clock::now().time_since_epoch();
    ++gSerial;
    if (gShared) {
        std::strncpy(gShared, name, gSharedSize - 1);
        gShared[gSharedSize - 1] = '\0';
    }
}

PluginCall::~PluginCall() {
    --tDepth;
    if (!outer_) return;
    const std::lock_guard<std::mutex> hold(gLock);
    gName = nullptr;
    if (gShared) gShared[0] = '\0';
}

std::string currentPluginCall() {
    const std::lock_guard<std::mutex> hold(gLock);
    return gName ? gName : "";
}

void recordCallsIn(char* shared, size_t size) {
    const std::lock_guard<std::mutex> hold(gLock);
    gShared = size > 0 ? shared : nullptr;
    gSharedSize = size;
    if (gShared) gShared[0] = '\0';
}

void warnWhenStuck(const char* command, double seconds) {
    // kv23 forks (validate's checks run in children): a fork while the
    // watch holds the lock would leave the child a lock nobody releases,
    // and its first plug-in call would hang. The fork waits for the lock.
    static const int atFork =
        pthread_atfork([] { gLock.lock(); }, [] { gLock.unlock(); }, [] { gLock.unlock(); });
    (void)atFork;
    std::thread([command, seconds] {
        uint64_t warned = 0;
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            std::string name;
            uint64_t serial = 0;
            double waited = 0.0;
            {
                const std::lock_guard<std::mutex> hold(gLock);
                if (!gName || gSerial == warned) continue;
                waited =
                    std::chrono::duration<double>(Clock::now().time_since_epoch() - gSince).count();
                if (waited < seconds) continue;
                name = gName;
                serial = gSerial;
            }
            warned = serial;
            std::fprintf(stderr,
                         "kv23 %s: the plug-in has not returned from %s for %.0f s; it may hang "
                         "(Ctrl+C stops kv23)\n",
                         command, name.c_str(), waited);
        }
    }).detach();
}

}  // namespace kv::host
