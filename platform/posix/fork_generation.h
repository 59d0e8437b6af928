// How many times this process came out of fork() (counted from the first
// call). Threads do not survive a fork: a child holds the objects that
// joined or waited for the parent's helper threads, but not the threads, and
// must neither wait for them nor join them. Cheap enough to ask at every
// idle: one relaxed atomic load.
#pragma once

#include <cstdint>

namespace VSTGUI::platform::posix {

uint32_t forkGeneration();

}  // namespace VSTGUI::platform::posix
