// An arrangement too large for the machine: the allocation fails and the
// caller must not be left holding the record that was released first.
// (Not run under the address sanitizer, which stops on such a request.)
#include <gtest/gtest.h>

#include "vst2/base/audioeffectx.h"

namespace {

class BareEffect : public AudioEffectX {
  public:
    BareEffect() : AudioEffectX(nullptr, 0, 0) {}
    void processReplacing(float**, float**, int32_t) override {}
};

TEST(SpeakerArrangements, FailedAllocationLeavesTheCallerNull) {
    BareEffect fx;
    VstSpeakerArrangement* a = nullptr;
    ASSERT_TRUE(fx.allocateArrangement(&a, 2));
    ASSERT_NE(a, nullptr);
    // About 240 GB: more than any test machine will grant.
    EXPECT_FALSE(fx.allocateArrangement(&a, 0x7FFFFFFF));
    EXPECT_EQ(a, nullptr);
}

}  // namespace
