// What a CLAP plug-in hands its host, looked at before the host calls
// through it. A plug-in that gives a null where CLAP asks for a function, a
// pointer into unmapped memory, or a record of random bytes would crash the
// host at its first call; kv23 reads such records through the kernel (a
// bad address is an error there, not a fault), and refuses them with a
// sentence that names the field.
#pragma once

#include <clap/plugin.h>

#include <cstddef>
#include <string>

namespace kv::host {

// Copies `size` bytes from `from`; false, touching nothing, when any of
// them cannot be read.
bool copyIfReadable(void* to, const void* from, size_t size);

// The zero-terminated text at `text`, at most `limit` bytes; false when it
// cannot be read or has no zero within the limit.
bool readableText(const char* text, size_t limit, std::string& out);

// Empty when the `count` function pointers at `table` (a record of CLAP's:
// an entry, a factory, a plug-in or an extension) can be read, are set and
// point into a loaded library; else "WHAT's FIELD is null" or the like.
// `names` names the fields in order.
std::string checkFunctions(const char* what, const void* table, size_t count,
                           const char* const* names);

// The same for the plug-in record (its desc too) and for the extensions
// kv23 calls (params, audio-ports, state, gui, timer-support, latency);
// an extension kv23 does not call passes unchecked.
std::string checkPlugin(const clap_plugin_t* plugin);
std::string checkExtension(const char* id, const void* extension);

}  // namespace kv::host
