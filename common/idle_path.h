// Marks a function that runs at every idle of an open editor, in any layer
// (the host interface, the toolkit, the back ends): this header depends on
// nothing.
//
// The host idles the editor every 20 to 100 ms, long enough for the caches
// to forget our code: an idle then pays for every page and line of code it
// touches, not for its few thousand instructions. GCC and Clang place the
// functions marked "hot" side by side, so that the idle's code lies in a
// handful of pages instead of one page for almost every function.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define KV_IDLE_PATH __attribute__((hot))
#else
#define KV_IDLE_PATH
#endif
