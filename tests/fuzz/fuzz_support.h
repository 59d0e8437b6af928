// What the fuzz harnesses share: a minimal host callback, one instance of
// the effect linked in directly, and a reader that turns the fuzzer's bytes
// into host requests. A broken invariant ends the run with abort(), which
// libFuzzer records as a crash together with the input that caused it.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vst2/base/audioeffect.h"

namespace kvtest {

inline intptr_t hostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

[[noreturn]] inline void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// Owns one instance for the duration of one input; effClose at the end.
class Instance {
  public:
    Instance() : effect_(kv::createInstance(&hostCallback, &createEffectInstance)) {
        if (effect_ == nullptr) broken("no instance");
    }
    ~Instance() { effect_->dispatcher(effect_, effClose, 0, 0, nullptr, 0.0f); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    AEffect* operator->() const { return effect_; }
    AEffect* get() const { return effect_; }
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f) {
        return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
    }

    // Every valid parameter reads as a number in [0, 1].
    void checkParameters() {
        for (int32_t i = 0; i < effect_->numParams; ++i) {
            const float v = effect_->getParameter(effect_, i);
            if (!(v >= 0.0f && v <= 1.0f)) broken("a parameter outside [0, 1] or NaN");
        }
    }

  private:
    AEffect* effect_;
};

// Reads values from the fuzzer's bytes; past the end everything is zero.
class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    size_t left() const { return at_ < size_ ? size_ - at_ : 0; }

    template <typename T>
    T take() {
        T value{};
        const size_t n = left() < sizeof(T) ? left() : sizeof(T);
        if (n > 0) std::memcpy(&value, data_ + at_, n);
        at_ += sizeof(T);
        return value;
    }
    std::vector<uint8_t> bytes(size_t n) {
        const size_t k = left() < n ? left() : n;
        std::vector<uint8_t> out(data_ + at_, data_ + at_ + k);
        at_ += n;
        out.resize(n, 0);
        return out;
    }
    // Small numbers most of the time (they reach the interesting cases),
    // any 32-bit value sometimes.
    int32_t index() {
        const uint8_t kind = take<uint8_t>();
        return kind < 224 ? static_cast<int32_t>(kind % 12) - 2 : take<int32_t>();
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace kvtest
