// A key as the toolkit's views see it: the character it types (0 for
// none), a virtual key for the keys that type nothing, and the modifiers
// held. Whoever delivers keys to a frame (a plug-in format's editor)
// converts its own key codes to this.
#pragma once

#include <cstdint>

namespace VSTGUI {

// The keys the views act on; every other key has virt 0.
enum VirtualKey : uint8_t {
    kKeyBack = 1,
    kKeyTab = 2,
    kKeyReturn = 4,
    kKeyEscape = 10,
    kKeyLeft = 11,
    kKeyUp = 12,
    kKeyRight = 13,
    kKeyDown = 14,
};

// Bits of KeyCode::modifier.
enum KeyModifier : uint8_t {
    kShiftKey = 1 << 0,
    kAlternateKey = 1 << 1,
    kCommandKey = 1 << 2,
    kControlKey = 1 << 3,
};

struct KeyCode {
    int32_t character = 0;
    uint8_t virt = 0;
    uint8_t modifier = 0;
};

}  // namespace VSTGUI
