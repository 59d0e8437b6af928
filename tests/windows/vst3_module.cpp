#include "vst3_module.h"

#include <travesty/host.h>

#include <cstring>

namespace kvtest {

namespace {

Vst3Module& moduleOf(void* self) {
    return *static_cast<Vst3Module::Face*>(self)->module;
}

// The module inside a bundle folder; anything else is taken as the module.
std::string modulePath(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return path;
    std::string bundle = path;
    while (!bundle.empty() && (bundle.back() == '/' || bundle.back() == '\\'))
        bundle.pop_back();
    const size_t slash = bundle.find_last_of("/\\");
    const std::string name = bundle.substr(slash == std::string::npos ? 0 : slash + 1);
    return bundle + "\\Contents\\x86_64-win\\" + name;
}

}  // namespace

// The host's three objects share the module's count: they live as long as
// it does, and count only so that a plug-in's references are answered.
struct Vst3Module::Calls {
    static uint32_t V3_API ref(void* self) { return ++moduleOf(self).refs_; }
    static uint32_t V3_API unref(void* self) { return --moduleOf(self).refs_; }
    static v3_result answer(void* self, bool ours, void** obj) {
        if (!obj) return V3_INVALID_ARG;
        *obj = ours ? self : nullptr;
        if (ours) ref(self);
        return ours ? V3_OK : V3_NO_INTERFACE;
    }

    static v3_result V3_API appQuery(void* self, const v3_tuid iid, void** obj) {
        return answer(
            self,
            v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_host_application_iid),
            obj);
    }
    static v3_result V3_API name(void*, v3_str_128 name) {
        const char* ours = "kv23w";
        for (size_t i = 0; i <= std::strlen(ours); ++i)
            name[i] = static_cast<int16_t>(ours[i]);
        return V3_OK;
    }
    // The plug-in asks its host for no objects (messages are for a
    // component and a controller that are two objects).
    static v3_result V3_API create(void*, v3_tuid, v3_tuid, void** obj) {
        if (obj) *obj = nullptr;
        return V3_NO_INTERFACE;
    }

    static v3_result V3_API handlerQuery(void* self, const v3_tuid iid, void** obj) {
        return answer(
            self,
            v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_component_handler_iid),
            obj);
    }
    static v3_result V3_API beginEdit(void* self, v3_param_id id) {
        if (FILE* out = moduleOf(self).trace_) std::fprintf(out, "beginEdit %u\n", id);
        return V3_OK;
    }
    static v3_result V3_API performEdit(void* self, v3_param_id id, double value) {
        const bool held = (GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0;
        if (FILE* out = moduleOf(self).trace_)
            std::fprintf(out, "automate %u %.6f held %d\n", id, value, held ? 1 : 0);
        return V3_OK;
    }
    static v3_result V3_API endEdit(void* self, v3_param_id id) {
        if (FILE* out = moduleOf(self).trace_) std::fprintf(out, "endEdit %u\n", id);
        return V3_OK;
    }
    static v3_result V3_API restart(void* self, int32_t flags) {
        if (FILE* out = moduleOf(self).trace_) std::fprintf(out, "restart 0x%X\n", flags);
        return V3_OK;
    }

    static v3_result V3_API frameQuery(void* self, const v3_tuid iid, void** obj) {
        return answer(
            self, v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_frame_iid),
            obj);
    }
    // The host window takes the size, then tells the view it has it.
    static v3_result V3_API resizeView(void* self, v3_plugin_view** view, v3_view_rect* rect) {
        Vst3Module& m = moduleOf(self);
        if (!view || !rect) return V3_INVALID_ARG;
        const int width = rect->right - rect->left, height = rect->bottom - rect->top;
        if (m.trace_) std::fprintf(m.trace_, "sizeWindow %d %d\n", width, height);
        if (!m.window_ || !SetWindowPos(m.window_, nullptr, 0, 0, width, height,
                                        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE))
            return V3_FALSE;
        v3_cpp_obj(view)->on_size(view, rect);
        return V3_OK;
    }
};

namespace {

using C = Vst3Module::Calls;
const v3_host_application_cpp kApp = {{C::appQuery, C::ref, C::unref}, {C::name, C::create}};
struct v3_component_handler_table : v3_funknown {
    v3_component_handler handler;
};
const v3_component_handler_table kHandler = {
    {C::handlerQuery, C::ref, C::unref}, {C::beginEdit, C::performEdit, C::endEdit, C::restart}};
const v3_plugin_frame_cpp kFrame = {{C::frameQuery, C::ref, C::unref}, {C::resizeView}};

}  // namespace

Vst3Module::Vst3Module() : app_{&kApp, this}, handler_{&kHandler, this}, frame_{&kFrame, this} {}

Vst3Module::~Vst3Module() {
    release();
}

v3_audio_processor* Vst3Module::proc() const {
    return v3_cpp_obj(processor_);
}

bool Vst3Module::load(const std::string& path, std::string& error) {
    const std::string module = modulePath(path);
    library_ = LoadLibraryA(module.c_str());
    if (!library_) {
        error = "cannot load " + module + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    using Entry = bool (*)();
    using GetFactory = void* (*)();
    const auto init =
        reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library_, "InitDll")));
    const auto getFactory = reinterpret_cast<GetFactory>(
        reinterpret_cast<void*>(GetProcAddress(library_, "GetPluginFactory")));
    if (!init || !getFactory) {
        error = module + " does not export InitDll and GetPluginFactory";
        return false;
    }
    entered_ = init();
    factory_ = static_cast<v3_plugin_factory**>(getFactory());
    if (!entered_ || !factory_) {
        error = module + ": InitDll refused or no factory";
        return false;
    }
    v3_plugin_factory* f = v3_cpp_obj(factory_);
    v3_class_info info{};
    int32_t index = 0;
    const int32_t classes = f->num_classes(factory_);
    while (index < classes && !(f->get_class_info(factory_, index, &info) == V3_OK &&
                                std::strcmp(info.category, "Audio Module Class") == 0))
        ++index;
    void* obj = nullptr;
    if (index == classes ||
        f->create_instance(factory_, info.class_id, v3_component_iid, &obj) != V3_OK || !obj) {
        error = module + ": the factory made no component";
        return false;
    }
    component_ = static_cast<v3_component**>(obj);
    auto** context = reinterpret_cast<v3_funknown**>(&app_);
    componentUp_ = v3_cpp_obj_initialize(component_, context) == V3_OK;
    v3_cpp_obj_query_interface(component_, v3_audio_processor_iid, &processor_);
    if (v3_cpp_obj_query_interface(component_, v3_edit_controller_iid, &controller_) != V3_OK) {
        v3_tuid controllerId{};
        controller_ = nullptr;
        if (comp()->get_controller_class_id(component_, controllerId) == V3_OK &&
            f->create_instance(factory_, controllerId, v3_edit_controller_iid, &obj) == V3_OK)
            controller_ = static_cast<v3_edit_controller**>(obj);
    }
    if (!componentUp_ || !processor_ || !controller_) {
        error = module + ": no initialised component with a processor and a controller";
        return false;
    }
    // As Windows hosts do, the controller is initialised whatever it is.
    controllerUp_ = v3_cpp_obj_initialize(controller_, context) == V3_OK;
    ctrl()->set_component_handler(controller_, handler());
    // A host activates the main buses it uses.
    comp()->activate_bus(component_, V3_AUDIO, V3_INPUT, 0, 1);
    comp()->activate_bus(component_, V3_AUDIO, V3_OUTPUT, 0, 1);
    return controllerUp_;
}

void Vst3Module::release() {
    if (controller_) {
        ctrl()->set_component_handler(controller_, nullptr);
        if (controllerUp_) v3_cpp_obj_terminate(controller_);
        v3_cpp_obj_unref(controller_);
    }
    if (componentUp_) v3_cpp_obj_terminate(component_);
    if (processor_) v3_cpp_obj_unref(processor_);
    if (component_) v3_cpp_obj_unref(component_);
    if (factory_) v3_cpp_obj_unref(factory_);
    controller_ = nullptr, processor_ = nullptr, component_ = nullptr, factory_ = nullptr;
    if (entered_) {
        if (const auto exit = reinterpret_cast<bool (*)()>(
                reinterpret_cast<void*>(GetProcAddress(library_, "ExitDll"))))
            exit();
    }
    entered_ = false;
    if (library_) FreeLibrary(library_);
    library_ = nullptr;
}

}  // namespace kvtest
