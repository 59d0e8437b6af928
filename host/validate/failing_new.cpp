#include "host/validate/failing_new.h"

#include <cstddef>
#include <cstdlib>
#include <new>

// The replacements must be visible to the dynamic loader (the build hides
// everything else), so that a plug-in's calls bind to them.
#define KV_EXPORTED __attribute__((visibility("default")))

namespace kv::validate::failing_new {

namespace {

// Plain thread-local values: no constructor runs for them, so they are safe
// to touch from inside operator new on any thread at any time.
thread_local bool armed = false;
thread_local bool hit = false;
thread_local long counted = 0;
thread_local long failingOne = 0;

// Whether this allocation is the one to fail.
bool failsNow() {
    if (!armed) return false;
    ++counted;
    if (counted != failingOne) return false;
    hit = true;
    return true;
}

void* allocate(std::size_t size) {
    if (failsNow()) return nullptr;
    return std::malloc(size != 0 ? size : 1);
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    if (failsNow()) return nullptr;
    const auto align = static_cast<std::size_t>(alignment);
    // aligned_alloc wants a size that is a multiple of the alignment.
    const std::size_t rounded = (size + align - 1) / align * align;
    return std::aligned_alloc(align, rounded != 0 ? rounded : align);
}

}  // namespace

void arm(long failAt) {
    counted = 0;
    failingOne = failAt;
    hit = false;
    armed = true;
}

long disarm() {
    armed = false;
    return counted;
}

bool injected() {
    return hit;
}

}  // namespace kv::validate::failing_new

using kv::validate::failing_new::allocate;
using kv::validate::failing_new::allocateAligned;

KV_EXPORTED void* operator new(std::size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
KV_EXPORTED void* operator new[](std::size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
KV_EXPORTED void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
KV_EXPORTED void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
KV_EXPORTED void* operator new(std::size_t size, std::align_val_t alignment) {
    if (void* p = allocateAligned(size, alignment)) return p;
    throw std::bad_alloc();
}
KV_EXPORTED void* operator new[](std::size_t size, std::align_val_t alignment) {
    if (void* p = allocateAligned(size, alignment)) return p;
    throw std::bad_alloc();
}
KV_EXPORTED void* operator new(std::size_t size, std::align_val_t alignment,
                               const std::nothrow_t&) noexcept {
    return allocateAligned(size, alignment);
}
KV_EXPORTED void* operator new[](std::size_t size, std::align_val_t alignment,
                                 const std::nothrow_t&) noexcept {
    return allocateAligned(size, alignment);
}

KV_EXPORTED void operator delete(void* p) noexcept {
    std::free(p);
}
KV_EXPORTED void operator delete[](void* p) noexcept {
    std::free(p);
}
KV_EXPORTED void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
KV_EXPORTED void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
KV_EXPORTED void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
KV_EXPORTED void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
KV_EXPORTED void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
KV_EXPORTED void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
KV_EXPORTED void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
KV_EXPORTED void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
KV_EXPORTED void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
KV_EXPORTED void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
