// The handle of the loaded plug-in module, recorded when the library is
// loaded (Linux: a constructor run by the dynamic loader; Windows: DllMain).
// The toolkit uses it to find its resources and to name its window class.
#pragma once

namespace kv {

void* moduleHandle();
void setModuleHandle(void* handle);

}  // namespace kv
