// Sample buffers for processing calls, one per input and one per output the
// plug-in declares in its AEffect record. A host that hands over a fixed
// pair makes a 2-in/6-out plug-in write through pointers that are not
// there and a 4-in plug-in read whatever follows the array.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv::host {

template <typename T>
class ChannelBuffers {
  public:
    ChannelBuffers(int32_t inputs, int32_t outputs, size_t frames)
        : in_(static_cast<size_t>(std::max(inputs, 0)), std::vector<T>(frames, T(0))),
          out_(static_cast<size_t>(std::max(outputs, 0)), std::vector<T>(frames, T(0))) {
        for (auto& c : in_)
            inPtr_.push_back(c.data());
        for (auto& c : out_)
            outPtr_.push_back(c.data());
        // Never a null array, even for a plug-in without inputs or outputs.
        inPtr_.push_back(nullptr);
        outPtr_.push_back(nullptr);
    }

    size_t inputs() const { return in_.size(); }
    size_t outputs() const { return out_.size(); }
    std::vector<T>& in(size_t channel) { return in_[channel]; }
    std::vector<T>& out(size_t channel) { return out_[channel]; }
    T** inPointers() { return inPtr_.data(); }
    T** outPointers() { return outPtr_.data(); }

    // Every input holds `value` (a level to drive a meter, silence ...).
    void fillInputs(T value) {
        for (auto& c : in_)
            std::fill(c.begin(), c.end(), value);
    }

  private:
    std::vector<std::vector<T>> in_, out_;
    std::vector<T*> inPtr_, outPtr_;
};

}  // namespace kv::host
