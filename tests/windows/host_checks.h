// kv23w validate: host-like checks of a plug-in DLL in three groups
// (audio, state, editor), one line each, and the closing count.
#pragma once

#include <string>

namespace kvtest {

// Exit status 0 when every check passed.
int validate(const std::string& dllPath);

}  // namespace kvtest
