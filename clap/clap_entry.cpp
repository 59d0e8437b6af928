// The CLAP entry point: one factory with one plug-in. The only symbol the
// library exports.
#include <clap/entry.h>
#include <clap/plugin-factory.h>

#include <cstring>

#include "clap/clap_opamp.h"

namespace {

uint32_t pluginCount(const clap_plugin_factory_t*) {
    return 1;
}

const clap_plugin_descriptor_t* pluginDescriptor(const clap_plugin_factory_t*, uint32_t index) {
    return index == 0 ? &kv::clap::descriptor() : nullptr;
}

const clap_plugin_t* createPlugin(const clap_plugin_factory_t*, const clap_host_t* host,
                                  const char* id) {
    if (!host || !id || std::strcmp(id, kv::clap::descriptor().id) != 0) return nullptr;
    if (!clap_version_is_compatible(host->clap_version)) return nullptr;
    return kv::clap::createOpamp(host);
}

const clap_plugin_factory_t kFactory = {pluginCount, pluginDescriptor, createPlugin};

bool entryInit(const char*) {
    return true;
}

void entryDeinit() {}

const void* entryFactory(const char* id) {
    return id && std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory : nullptr;
}

}  // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION_INIT, entryInit,
                                                               entryDeinit, entryFactory};
