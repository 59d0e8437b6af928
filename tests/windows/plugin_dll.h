// One plug-in instance loaded from a DLL the way a Windows host does:
// LoadLibraryA, GetProcAddress("VSTPluginMain") (or "main"), the host
// callback, and from then on only the AEffect record. The destructor sends
// effClose and only then frees the library, whose code the instance is.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vst2/base/aeffect.h"

namespace kvtest {

struct HostCall {
    int32_t opcode;
    int32_t index;
    float opt;
};

class PluginDll {
  public:
    PluginDll() = default;
    ~PluginDll();
    PluginDll(const PluginDll&) = delete;
    PluginDll& operator=(const PluginDll&) = delete;

    // `entry` is the exported name to call.
    bool load(const std::string& path, std::string& error, const char* entry = "VSTPluginMain");
    AEffect* effect() const { return effect_; }
    HMODULE module() const { return module_; }
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);
    void start(float rate, int32_t block);
    void stop();
    void close();

    // Print "beginEdit N", "automate N V", "endEdit N" as they come.
    void setTrace(FILE* out) { trace_ = out; }
    const std::vector<HostCall>& calls() const { return calls_; }

    intptr_t answer(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

  private:
    HMODULE module_ = nullptr;
    AEffect* effect_ = nullptr;
    FILE* trace_ = nullptr;
    std::vector<HostCall> calls_;
    bool running_ = false;
};

// The first descendant of `parent` whose class name starts with the prefix.
HWND findChildWindow(HWND parent, const char* classPrefix);

}  // namespace kvtest
