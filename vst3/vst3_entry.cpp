// The VST3 module: its entry points and the factory with one class, the
// plug-in (component and edit controller in one object). The entry points
// are the only symbols the library exports.
#include <travesty/factory.h>

#include <cstring>

#include "common/identity.h"
#include "vst3/vst3_plugin.h"
#include "vst3/vst3_text.h"

namespace {

using namespace kv::vst3;

// The class id's bytes as the platform's hosts read them (see identity.h).
constexpr v3_tuid kClassId = V3_ID(kv::identity::kVst3ClassId[0], kv::identity::kVst3ClassId[1],
                                   kv::identity::kVst3ClassId[2], kv::identity::kVst3ClassId[3]);
constexpr const char* kCategory = "Audio Module Class";
constexpr int32_t kManyInstances = 0x7FFFFFFF;
constexpr int32_t kUnicode = 0x10;  // the factory's strings may be UTF-16
constexpr const char* kSdkVersion = "VST 3.7";

template <size_t N>
void copyText(char (&to)[N], const char* from) {
    std::strncpy(to, from, N - 1);
    to[N - 1] = 0;
}

// The factory is static: the host's references change nothing.
v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj) {
    if (!obj) return V3_INVALID_ARG;
    const bool ours =
        v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_factory_iid) ||
        v3_tuid_match(iid, v3_plugin_factory_2_iid) || v3_tuid_match(iid, v3_plugin_factory_3_iid);
    *obj = ours ? self : nullptr;
    return ours ? V3_OK : V3_NO_INTERFACE;
}

uint32_t V3_API ref(void*) {
    return 1;
}

uint32_t V3_API unref(void*) {
    return 1;
}

v3_result V3_API getFactoryInfo(void*, v3_factory_info* info) {
    if (!info) return V3_INVALID_ARG;
    *info = {};
    copyText(info->vendor, kv::identity::kVendor);
    info->flags = kUnicode;
    return V3_OK;
}

int32_t V3_API numClasses(void*) {
    return 1;
}

v3_result V3_API getClassInfo(void*, int32_t index, v3_class_info* info) {
    if (!info || index != 0) return V3_INVALID_ARG;
    *info = {};
    std::memcpy(info->class_id, kClassId, sizeof kClassId);
    info->cardinality = kManyInstances;
    copyText(info->category, kCategory);
    copyText(info->name, kv::identity::kName);
    return V3_OK;
}

v3_result V3_API createInstance(void*, const v3_tuid classId, const v3_tuid iid, void** instance) {
    if (!instance) return V3_INVALID_ARG;
    *instance = nullptr;
    if (!classId || !v3_tuid_match(classId, kClassId)) return V3_NO_INTERFACE;
    Plugin* p = createPlugin();
    if (!p) return V3_NOMEM;
    *instance = p->query(iid);
    p->unref();  // the creation's own reference: the host holds what it asked for
    return *instance ? V3_OK : V3_NO_INTERFACE;
}

v3_result V3_API getClassInfo2(void*, int32_t index, v3_class_info_2* info) {
    if (!info || index != 0) return V3_INVALID_ARG;
    *info = {};
    std::memcpy(info->class_id, kClassId, sizeof kClassId);
    info->cardinality = kManyInstances;
    copyText(info->category, kCategory);
    copyText(info->name, kv::identity::kName);
    info->class_flags = 0;
    copyText(info->sub_categories, kv::identity::kVst3SubCategories);
    copyText(info->vendor, kv::identity::kVendor);
    copyText(info->version, kv::identity::kVersion);
    copyText(info->sdk_version, kSdkVersion);
    return V3_OK;
}

v3_result V3_API getClassInfoUtf16(void*, int32_t index, v3_class_info_3* info) {
    if (!info || index != 0) return V3_INVALID_ARG;
    *info = {};
    std::memcpy(info->class_id, kClassId, sizeof kClassId);
    info->cardinality = kManyInstances;
    copyText(info->category, kCategory);
    toUtf16(kv::identity::kName, info->name, 64);
    info->class_flags = 0;
    copyText(info->sub_categories, kv::identity::kVst3SubCategories);
    toUtf16(kv::identity::kVendor, info->vendor, 64);
    toUtf16(kv::identity::kVersion, info->version, 64);
    toUtf16(kSdkVersion, info->sdk_version, 64);
    return V3_OK;
}

// The host's context is not needed: the plug-in asks its host for nothing.
v3_result V3_API setHostContext(void*, v3_funknown**) {
    return V3_OK;
}

const v3_plugin_factory_cpp kFactoryTable = {
    {queryInterface, ref, unref},
    {getFactoryInfo, numClasses, getClassInfo, createInstance},
    {getClassInfo2},
    {getClassInfoUtf16, setHostContext}};

// What GetPluginFactory hands out: a pointer to the table.
const v3_plugin_factory_cpp* kFactory = &kFactoryTable;

}  // namespace

#ifdef _WIN32
#define KV_VST3_EXPORT extern "C" __declspec(dllexport)
#else
#define KV_VST3_EXPORT extern "C" __attribute__((visibility("default")))
#endif

KV_VST3_EXPORT void* GetPluginFactory() {
    return const_cast<const v3_plugin_factory_cpp**>(&kFactory);
}

#ifdef _WIN32
KV_VST3_EXPORT bool InitDll() {
    return true;
}
KV_VST3_EXPORT bool ExitDll() {
    return true;
}
#else
KV_VST3_EXPORT bool ModuleEntry(void*) {
    return true;
}
KV_VST3_EXPORT bool ModuleExit() {
    return true;
}
#endif
