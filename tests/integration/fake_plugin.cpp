// Plug-in files that are broken in one way each, for kv23's error tests.
// Which way is chosen when the file is compiled.
#include "vst2/base/aeffect.h"

#define KV_EXPORT extern "C" __attribute__((visibility("default")))

#if defined(KV_FAKE_NO_ENTRY)
// A library, but without the VST entry point.
KV_EXPORT int notAPlugin() {
    return 1;
}
#elif defined(KV_FAKE_NULL_INSTANCE)
// The entry point refuses to create an instance.
KV_EXPORT AEffect* VSTPluginMain(audioMasterCallback) {
    return nullptr;
}
#elif defined(KV_FAKE_WRONG_MAGIC)
// The entry point returns a record that is not an AEffect.
static AEffect gRecord{};
KV_EXPORT AEffect* VSTPluginMain(audioMasterCallback) {
    gRecord.magic = kvFourCC('N', 'o', 'p', 'e');
    return &gRecord;
}
#else
#error choose one of the fakes
#endif
