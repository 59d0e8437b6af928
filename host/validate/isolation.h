// Tools that turn a plug-in's memory fault into a failed check line rather
// than a dead validator: a forked child for risky calls, an exact-size
// buffer followed by an inaccessible page (an over-read faults at the first
// byte past the end), and a buffer with a canary tail (an over-write leaves
// a trace we can see).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kv::validate {

struct ChildOutcome {
    bool ok = false;
    // The body's own message, or how the child ended ("killed by signal 11
    // (Segmentation fault)", "timed out after 20 s", "exit status 1").
    std::string message;
};

// Runs `body` in a forked child. The body returns an empty string (or
// passedWith(figure)) for success, or a sentence saying what was wrong; an
// exception counts as a failure. The child never returns into our code: it ends with _exit, so
// the plug-in's and our destructors do not run twice.
// A success that carries a figure back to the parent as the message.
std::string passedWith(const std::string& figure);

ChildOutcome runInChild(const std::function<std::string()>& body, int timeoutSeconds = 60);

// `size` bytes that end exactly where an inaccessible page begins.
class GuardedBytes {
  public:
    explicit GuardedBytes(size_t size);
    ~GuardedBytes();
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    uint8_t* data() { return data_; }
    size_t size() const { return size_; }
    bool valid() const { return data_ != nullptr; }

  private:
    void* base_ = nullptr;
    size_t mapped_ = 0;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// A text buffer of `usable` bytes followed by kTail bytes of a pattern. The
// usable part starts filled with the pattern too, so we can tell written
// bytes from untouched ones.
class CanaryBuffer {
  public:
    static constexpr size_t kTail = 64;
    static constexpr uint8_t kPattern = 0xA5;

    explicit CanaryBuffer(size_t usable);
    char* data() { return reinterpret_cast<char*>(bytes_.data()); }
    // Bytes past the usable part that no longer hold the pattern.
    size_t tailDamage() const;
    // Index of the first zero byte in the usable part, or `usable` when none.
    size_t firstZero() const;
    // Whether the usable part still holds only the pattern.
    bool untouched() const;

  private:
    size_t usable_;
    std::basic_string<uint8_t> bytes_;
};

}  // namespace kv::validate
