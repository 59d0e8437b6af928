// kv23 replaces the global operator new (all of its forms) for the whole
// process, and with it for every plug-in it loads that takes operator new
// from the shared C++ library. Normally the replacement only forwards to
// malloc; armed on a thread, it counts that thread's allocations and makes
// one chosen allocation fail (std::bad_alloc, or null for the nothrow
// forms), the way a host process that runs out of memory would.
//
// A plug-in linked with its own static copy of the C++ library keeps its
// own operator new: its allocations are not seen and the count stays 0.
#pragma once

namespace kv::validate::failing_new {

// Counts this thread's allocations from now on; the `failAt`-th one fails
// (1 is the first; 0 counts without failing). Every later one succeeds.
void arm(long failAt);
// Stops counting and answers how many allocations were counted.
long disarm();
// Whether the chosen allocation was reached (and failed) since arm().
bool injected();

}  // namespace kv::validate::failing_new
