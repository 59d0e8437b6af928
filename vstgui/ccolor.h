// Colours and the mouse-button / modifier mask of the toolkit.
#pragma once

#include <cstdint>

namespace VSTGUI {

struct CColor {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t alpha = 0;

    // All four bytes take part, although alpha never reaches the platform.
    constexpr bool operator==(const CColor&) const = default;
};

inline constexpr CColor kWhiteColor{255, 255, 255, 255};
inline constexpr CColor kBlackColor{0, 0, 0, 255};
inline constexpr CColor kGreyColor{127, 127, 127, 255};
inline constexpr CColor kRedColor{255, 0, 0, 255};

// Mouse buttons and modifier keys as one mask; -1 passed to a mouse handler
// means "not sampled: read the live state yourself".
enum CButton : int32_t {
    kMouseLeft = 1 << 0,
    kMouseMiddle = 1 << 1,
    kMouseRight = 1 << 2,
    kModShift = 1 << 3,
    kModControl = 1 << 4,
    kModAlt = 1 << 5,
    kModCommand = 1 << 6,
};
inline constexpr int32_t kModifierMask = kModShift | kModControl | kModAlt | kModCommand;  // 0x78

}  // namespace VSTGUI
