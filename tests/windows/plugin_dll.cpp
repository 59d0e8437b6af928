#include "plugin_dll.h"

#include <cstring>

namespace kvtest {

namespace {

// The instance being created has no AEffect yet when it first calls back
// (audioMasterVersion): that call is answered without an owner.
PluginDll* loading = nullptr;

intptr_t hostCallback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                      float opt) {
    auto* host = effect && effect->user ? static_cast<PluginDll*>(effect->user) : loading;
    if (!host) return opcode == audioMasterVersion ? 2400 : 0;
    return host->answer(opcode, index, value, ptr, opt);
}

}  // namespace

PluginDll::~PluginDll() {
    close();
    if (module_) FreeLibrary(module_);
}

bool PluginDll::load(const std::string& path, std::string& error, const char* entry) {
    module_ = LoadLibraryA(path.c_str());
    if (!module_) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    using Entry = AEffect* (*)(audioMasterCallback);
    auto main = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module_, entry)));
    if (!main) {
        error = path + " does not export " + entry;
        return false;
    }
    loading = this;
    effect_ = main(&hostCallback);
    loading = nullptr;
    if (!effect_ || effect_->magic != kEffectMagic) {
        error = path + " gave no plug-in instance";
        effect_ = nullptr;
        return false;
    }
    effect_->user = this;
    dispatch(effOpen);
    return true;
}

intptr_t PluginDll::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    return effect_ ? effect_->dispatcher(effect_, opcode, index, value, ptr, opt) : 0;
}

void PluginDll::start(float rate, int32_t block) {
    dispatch(effSetSampleRate, 0, 0, nullptr, rate);
    dispatch(effSetBlockSize, 0, block);
    dispatch(effMainsChanged, 0, 1);
    running_ = true;
}

void PluginDll::stop() {
    if (running_) dispatch(effMainsChanged, 0, 0);
    running_ = false;
}

void PluginDll::close() {
    if (!effect_) return;
    stop();
    dispatch(effClose);
    effect_ = nullptr;
}

intptr_t PluginDll::answer(int32_t opcode, int32_t index, intptr_t /*value*/, void* /*ptr*/,
                           float opt) {
    calls_.push_back(HostCall{opcode, index, opt});
    switch (opcode) {
        case audioMasterVersion:
            return 2400;
        case audioMasterAutomate:
            if (trace_) std::fprintf(trace_, "automate %d %.6f\n", index, opt);
            return 0;
        case audioMasterBeginEdit:
            if (trace_) std::fprintf(trace_, "beginEdit %d\n", index);
            return 1;
        case audioMasterEndEdit:
            if (trace_) std::fprintf(trace_, "endEdit %d\n", index);
            return 1;
        default:
            return 0;
    }
}

HWND findChildWindow(HWND parent, const char* classPrefix) {
    struct Search {
        const char* prefix;
        HWND found;
    } search{classPrefix, nullptr};
    EnumChildWindows(
        parent,
        [](HWND hwnd, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            char name[128] = {};
            GetClassNameA(hwnd, name, sizeof name);
            if (std::strncmp(name, s->prefix, std::strlen(s->prefix)) == 0) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace kvtest
