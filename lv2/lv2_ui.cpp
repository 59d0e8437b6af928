// The op-amp panel as an LV2 UI: an X11 window embedded in the host's
// (ui:parent), run by the host's idle calls (ui:idleInterface), sized
// through ui:resize, scaled by the ui:scaleFactor option, and reporting
// gestures through ui:touch when the host offers them. The panel reaches
// the sound only through the control ports; the peak port lights its LED.
//
// Every call of this file comes on the host's UI thread.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/host_calls.h"
#include "common/identity.h"
#include "common/peak_cell.h"
#include "dsp/param_info.h"
#include "lv2/lv2_ports.h"
#include "lv2/port_values.h"
#include "panel/opamp_panel.h"
#include "panel/panel_owner.h"
#include "panel/panel_scale.h"
#include "vstgui/cframe.h"

namespace {

using namespace kv::opamp;

struct HostFeatures {
    void* parent = nullptr;
    const LV2UI_Resize* resize = nullptr;
    const LV2UI_Touch* touch = nullptr;
    double scale = 0.0;  // 0: the host gave none
};

// Reads the features the UI uses; the scale factor is an option whose key
// needs the host's URID map.
HostFeatures readFeatures(const LV2_Feature* const* features) {
    HostFeatures found;
    const LV2_Options_Option* options = nullptr;
    const LV2_URID_Map* map = nullptr;
    for (int i = 0; features && features[i]; ++i) {
        const char* uri = features[i]->URI;
        void* data = features[i]->data;
        if (std::strcmp(uri, LV2_UI__parent) == 0) found.parent = data;
        if (std::strcmp(uri, LV2_UI__resize) == 0) found.resize = static_cast<LV2UI_Resize*>(data);
        if (std::strcmp(uri, LV2_UI__touch) == 0) found.touch = static_cast<LV2UI_Touch*>(data);
        if (std::strcmp(uri, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option*>(data);
        if (std::strcmp(uri, LV2_URID__map) == 0) map = static_cast<LV2_URID_Map*>(data);
    }
    if (options && map) {
        const LV2_URID scaleKey = map->map(map->handle, LV2_UI__scaleFactor);
        const LV2_URID floatType = map->map(map->handle, LV2_ATOM__Float);
        for (const LV2_Options_Option* o = options; o->key != 0; ++o) {
            if (o->key == scaleKey && o->type == floatType && o->size == sizeof(float) && o->value)
                found.scale = *static_cast<const float*>(o->value);
        }
    }
    return found;
}

// The panel of one UI instance. The host may call cleanup from inside any
// call the panel makes to it (a port write, a touch, a resize): the object
// then lives until the host's own call into it (idle, a port event) returns,
// and calls the host no more (common/host_calls.h).
class Lv2Panel final : public kv::panel::PanelOwner {
  public:
    Lv2Panel(LV2UI_Write_Function writer, LV2UI_Controller hostController,
             const HostFeatures& features)
        : write_(writer), controller_(hostController), host_(features) {}
    ~Lv2Panel() override { panel_.close(); }

    // False (with the reason in `why`) when the panel has no window: out of
    // memory, or a parent window that does not exist on any display we reach.
    bool open(const char*& why) {
        if (!panel_.open(host_.parent, kv::panel::chooseScale(host_.scale, host_.parent))) {
            why = "out of memory opening the panel";
            return false;
        }
        if (!widget()) {
            why =
                "no window could be made in the host's parent window (is the parent a window "
                "of a display this process can open?)";
            return false;
        }
        const kv::panel::DeviceSize size = kv::panel::deviceSize(panel_.getFrame()->getScale());
        if (host_.resize) host_.resize->ui_resize(host_.resize->handle, size.width, size.height);
        return true;
    }

    // The host's cleanup: the panel closes at once (a gesture under way ends
    // for the host), the object goes when no call of the host's is open.
    static void cleanup(Lv2Panel* ui) {
        ui->panel_.close();
        ui->calls_.endWhenIdle();
    }
    kv::HostCalls& calls() { return calls_; }

    LV2UI_Widget widget() const {
        VSTGUI::CFrame* frame = panel_.getFrame();
        return frame && frame->getPlatformWindow() ? frame->getPlatformWindow()->handle() : nullptr;
    }

    // A control port changed on the host's side (automation, another UI,
    // the state of a session), or the peak port has a new level.
    void portEvent(uint32_t port, float value) {
        if (port == kv::lv2::kPortPeak) {
            // A host may send the port only when it changes (Ardour does):
            // the level stands until the next event, and every idle shows it.
            peakLevel_ = value;
            showPeak();
            return;
        }
        const auto param = kv::lv2::paramOfPort(port);
        if (!param) return;
        // A NaN keeps the value; the rest is clamped as the sound clamps it.
        const auto accepted = kv::lv2::normalisedOfPort(*param, value);
        if (!accepted) return;
        values_.v[*param] = *accepted;
        panel_.parameterChanged(*param, *accepted);
    }

    int idle() {
        showPeak();
        if (VSTGUI::CFrame* frame = panel_.getFrame()) frame->idle();
        return 0;
    }

    float parameterValue(int32_t index) override {
        return index >= 0 && index < kNumParams ? values_.v[index] : 0.0f;
    }

    void changeParameter(int32_t index, float value, bool /*automate*/) override {
        if (index < 0 || index >= kNumParams) return;
        const auto accepted = acceptValue(value);
        if (!accepted) return;
        const auto param = static_cast<Param>(index);
        const float portValue = kv::lv2::portOfNormalised(param, *accepted);
        // The panel shows what the port will carry (a switch's 0 or 1).
        values_.v[index] = kv::lv2::normalisedOfPort(param, portValue).value_or(0.0f);
        if (!calls_.ending())
            write_(controller_, kv::lv2::portOfParam(param), sizeof portValue, 0, &portValue);
        panel_.parameterChanged(index, values_.v[index]);
    }

    void beginGesture(int32_t index) override { touch(index, true); }
    void endGesture(int32_t index) override { touch(index, false); }
    bool resizeHostWindow(int32_t width, int32_t height) override {
        return host_.resize && !calls_.ending() &&
               host_.resize->ui_resize(host_.resize->handle, width, height) == 0;
    }
    void followDesktopScale(double factor) override { panel_.followDesktop(host_.scale, factor); }

  private:
    void touch(int32_t index, bool grabbed) {
        if (host_.touch && !calls_.ending() && index >= 0 && index < kNumParams)
            host_.touch->touch(host_.touch->handle, kv::lv2::portOfParam(static_cast<Param>(index)),
                               grabbed);
    }

    // The LED lights for a level above full scale; the processing side
    // holds each level long enough for a host reading the port at 25 Hz.
    void showPeak() {
        if (std::atomic<double>* cell = panel_.peakCell()) raisePeakCell(*cell, peakLevel_);
    }

    LV2UI_Write_Function write_;
    LV2UI_Controller controller_;
    HostFeatures host_;
    ParamValues values_ = defaultValues();
    float peakLevel_ = 0.0f;
    kv::HostCalls calls_{[](void* ui) { delete static_cast<Lv2Panel*>(ui); }, this};
    kv::panel::OpampPanel panel_{*this};
};

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*,
                         LV2UI_Write_Function write, LV2UI_Controller controller,
                         LV2UI_Widget* widget, const LV2_Feature* const* features) {
    if (!pluginUri || std::strcmp(pluginUri, kv::identity::kLv2Uri) != 0) {
        std::fprintf(stderr, "%s: this UI controls %s, not %s\n", kv::identity::kName,
                     kv::identity::kLv2Uri, pluginUri ? pluginUri : "(none)");
        return nullptr;
    }
    const HostFeatures host = readFeatures(features);
    if (!host.parent || !write) {
        std::fprintf(stderr,
                     "%s: the host gave the UI no %s; it needs a window to embed "
                     "in and a way to write the controls\n",
                     kv::identity::kName,
                     host.parent ? "write function" : "parent window (ui:parent)");
        return nullptr;
    }
    auto* ui = new (std::nothrow) Lv2Panel(write, controller, host);
    const char* why = "out of memory opening the panel";
    if (!ui || !ui->open(why)) {
        std::fprintf(stderr, "%s: %s; no panel\n", kv::identity::kName, why);
        delete ui;
        return nullptr;
    }
    if (widget) *widget = ui->widget();
    return ui;
}

void cleanup(LV2UI_Handle handle) {
    Lv2Panel::cleanup(static_cast<Lv2Panel*>(handle));
}

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format,
               const void* buffer) {
    if (format != 0 || size != sizeof(float) || !buffer) return;
    float value = 0.0f;
    std::memcpy(&value, buffer, sizeof value);
    auto* ui = static_cast<Lv2Panel*>(handle);
    const kv::HostCalls::Entry entry(ui->calls());
    ui->portEvent(port, value);
}

int idle(LV2UI_Handle handle) {
    auto* ui = static_cast<Lv2Panel*>(handle);
    const kv::HostCalls::Entry entry(ui->calls());
    return ui->idle();
}

const LV2UI_Idle_Interface kIdle = {idle};

const void* extensionData(const char* uri) {
    if (uri && std::strcmp(uri, LV2_UI__idleInterface) == 0) return &kIdle;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor = {kv::identity::kLv2UiUri, instantiate, cleanup, portEvent,
                                      extensionData};

}  // namespace

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
