// The panel's scale factor and size, the same rule in every format.
//
// A panel opens at the first factor that someone gave: the host's (its
// scale call or option), else the user's KV23_SCALE, else the desktop's
// under the host's window, else 1. The host's is used as it is, never
// multiplied by the desktop's. An open panel follows a change of the
// desktop's scale only when neither the host nor the user gave a factor.
#pragma once

#include <cstdint>
#include <optional>

namespace VSTGUI {
class CFrame;
}

namespace kv::panel {

// A factor a host sends, as the panel takes it: clamped to [1, 3]; 0 for a
// NaN or an infinity, which the panel refuses.
double acceptHostScale(double factor);
// The factor the host (`hostFactor`, 0 for none) or the user gave,
// clamped as the frame clamps it; 0 when neither gave one.
double requestedScale(double hostFactor);
// The factor of a panel opening in the window `parent` (null: the desktop
// is not asked).
double chooseScale(double hostFactor, void* parent);
// The factor an open panel takes when the desktop's scale under it changed
// to `desktopFactor`; 0 when it keeps its own.
double scaleAfterDesktopChange(double hostFactor, double desktopFactor);

// The panel's size in device pixels at a factor.
struct DeviceSize {
    int32_t width = 0;
    int32_t height = 0;
};
DeviceSize deviceSize(double scale);

// Hosts size their window from the size a panel answers before it is in
// the window, when it does not know its screen (chooseScale without a
// parent). The size the open panel `frame` must ask its host for when it
// opened at another factor (the desktop's), else nothing. Allocates
// nothing, so that an editor's open stays as its allocation checks know it.
std::optional<DeviceSize> sizeToAskAfterOpen(double hostFactor, const VSTGUI::CFrame* frame);

}  // namespace kv::panel
