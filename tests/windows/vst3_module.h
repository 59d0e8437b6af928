// One VST3 plug-in loaded from its Windows bundle the way a Windows host
// does: LoadLibraryA on Contents/x86_64-win/NAME.vst3, InitDll,
// GetPluginFactory, the factory's "Audio Module Class", the component
// initialised with a host context, its audio processor and its edit
// controller (the component's own, or the class it names), and the
// controller given a component handler. The host's side is the least a
// Windows host offers: an application object, the component handler, which
// prints what the plug-in reports, and an IPlugFrame that resizes the host's
// window (no IRunLoop: on Windows the view runs on its own window's timer).
#pragma once

#include <windows.h>

#include <travesty/audio_processor.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/factory.h>
#include <travesty/view.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace kvtest {

class Vst3Module {
  public:
    Vst3Module();
    ~Vst3Module();
    Vst3Module(const Vst3Module&) = delete;
    Vst3Module& operator=(const Vst3Module&) = delete;

    // `path` is the bundle folder, or the module inside it.
    bool load(const std::string& path, std::string& error);

    v3_component** component() const { return component_; }
    v3_audio_processor** processor() const { return processor_; }
    v3_edit_controller** controller() const { return controller_; }
    v3_component_handler** handler() { return reinterpret_cast<v3_component_handler**>(&handler_); }
    v3_plugin_frame** frame() { return reinterpret_cast<v3_plugin_frame**>(&frame_); }

    // The calls past FUnknown of the interfaces whose C++ tables travesty
    // does not unwrap.
    v3_audio_processor* proc() const;
    v3_component* comp() const { return v3_cpp_obj(component_); }
    v3_edit_controller* ctrl() const { return v3_cpp_obj(controller_); }

    // The edits go to `out` as "beginEdit ID", "automate ID NORMALISED held
    // 0|1" (whether the left button is down as the value arrives) and
    // "endEdit ID"; restarts as "restart FLAGS".
    void setTrace(FILE* out) { trace_ = out; }
    // The host window resize_view sizes, and the view it tells (on_size).
    void setWindow(HWND window) { window_ = window; }

    // The object behind each of the host's interfaces.
    struct Face {
        const void* table;
        Vst3Module* module;
    };
    struct Calls;  // their functions (vst3_module.cpp)

  private:
    void release();

    HMODULE library_ = nullptr;
    bool entered_ = false;  // InitDll answered true
    v3_plugin_factory** factory_ = nullptr;
    v3_component** component_ = nullptr;
    v3_audio_processor** processor_ = nullptr;
    v3_edit_controller** controller_ = nullptr;
    bool componentUp_ = false;
    bool controllerUp_ = false;
    Face app_;
    Face handler_;
    Face frame_;
    std::atomic<uint32_t> refs_{1};  // the host's objects live as long as this
    FILE* trace_ = nullptr;
    HWND window_ = nullptr;
};

}  // namespace kvtest
