// A window's pixels as the X server shows them, and a PNG file of them: what
// kv23 snapshot writes for a VST 2 editor and a CLAP panel alike.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kv::host {

// The window's pixels as 0xRRGGBB rows, read from the server; the window's
// children (the editor) included, as they are on the screen. Empty when
// the window cannot be read.
std::vector<uint32_t> grab(Display* dpy, Window window, int width, int height);

// Writes `pixels` (width x height, 0xRRGGBB) as a PNG file; a RunError when
// it cannot, leaving no half-written file under the name.
void writePng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height);

}  // namespace kv::host
