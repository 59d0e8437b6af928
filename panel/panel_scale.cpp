#include "panel/panel_scale.h"

#include <cstdlib>

#include "panel/opamp_panel.h"
#include "vstgui/cframe.h"
#include "vstgui/density.h"
#include "vstgui/platform/native_window.h"

namespace kv::panel {

using namespace VSTGUI;

double acceptHostScale(double factor) {
    return density::acceptScale(factor);
}

double requestedScale(double hostFactor) {
    // acceptScale clamps 0 up to 1: "none" must not reach it as a factor.
    double scale = hostFactor > 0.0 ? density::acceptScale(hostFactor) : 0.0;
    if (scale == 0.0) scale = density::parseScale(std::getenv("KV23_SCALE"));
    return scale == 0.0 ? 0.0 : CFrame::usableScale(scale);
}

double chooseScale(double hostFactor, void* parent) {
    double scale = requestedScale(hostFactor);
    if (scale == 0.0 && parent) scale = density::acceptScale(platform::desktopScale(parent));
    return CFrame::usableScale(scale);
}

double scaleAfterDesktopChange(double hostFactor, double desktopFactor) {
    if (requestedScale(hostFactor) > 0.0) return 0.0;
    const double accepted = density::acceptScale(desktopFactor);
    return CFrame::usableScale(accepted > 0.0 ? accepted : 1.0);
}

std::optional<DeviceSize> sizeToAskAfterOpen(double hostFactor, const CFrame* frame) {
    if (!frame || frame->getScale() == chooseScale(hostFactor, nullptr)) return std::nullopt;
    const CRect size = frame->getViewSize();
    return DeviceSize{density::toDevice(size.width(), frame->getScale()),
                      density::toDevice(size.height(), frame->getScale())};
}

DeviceSize deviceSize(double scale) {
    const CRect size = OpampPanel::panelSize();
    return {density::toDevice(size.width(), scale), density::toDevice(size.height(), scale)};
}

}  // namespace kv::panel
