// The library carries the images itself: the bytes found by number are exactly the
// committed files, only the low 16 bits of the number count, and other numbers find nothing.
#include <gtest/gtest.h>

#include <cstring>

#include "png_chunks.h"
#include "vstgui/platform/resources.h"

namespace kvtest {
namespace {

using VSTGUI::platform::findPngResource;
using VSTGUI::platform::ResourceBytes;

bool sameBytes(const ResourceBytes& r, const std::vector<uint8_t>& file) {
    return r.data != nullptr && r.size == file.size() &&
           std::memcmp(r.data, file.data(), file.size()) == 0;
}

TEST(FindPngResource, ReturnsTheCommittedBytesOfEachImage) {
    for (int number : {101, 102, 103, 104, 1101, 1102, 1103, 1104}) {
        const std::vector<uint8_t> file = readFile(resourcePath(number));
        ASSERT_FALSE(file.empty());
        const ResourceBytes r = findPngResource(number);
        EXPECT_TRUE(sameBytes(r, file)) << number << ".png differs from the compiled-in copy";
        // The bytes stay where they are: a second lookup gives the same storage.
        EXPECT_EQ(findPngResource(number).data, r.data);
    }
}

TEST(FindPngResource, OnlyTheLowSixteenBitsSelect) {
    const std::vector<uint8_t> file101 = readFile(resourcePath(101));
    const std::vector<uint8_t> file104 = readFile(resourcePath(104));
    EXPECT_TRUE(sameBytes(findPngResource(101 + 65536), file101));
    EXPECT_TRUE(sameBytes(findPngResource(101 + (7 << 16)), file101));
    EXPECT_TRUE(
        sameBytes(findPngResource(int32_t(0xFFFF0068u)), file104));  // negative, low word 104
    EXPECT_FALSE(sameBytes(findPngResource(101 + 65536), file104));
}

TEST(FindPngResource, UnknownNumbersFindNothing) {
    for (int32_t number : {0, 1, 100, 105, 106, 65535, 65536, -1, int32_t(0x80000000u)}) {
        const ResourceBytes r = findPngResource(number);
        EXPECT_EQ(r.data, nullptr) << number;
        EXPECT_EQ(r.size, 0u) << number;
    }
}

}  // namespace
}  // namespace kvtest
