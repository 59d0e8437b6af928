// The parts of the XDND drop target that need no server: which kind of data
// a drag offers and how many items a file list holds. Kept apart so that
// they can be tested on any input without a display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace VSTGUI::platform::x11 {

// The protocol version we speak; older sources (3 and 4) are accepted.
inline constexpr long kXdndVersion = 5;
inline constexpr long kXdndOldestVersion = 3;

// A source that does not answer a selection request within this time (on
// the clock, checked whenever the window handles its events) gets no count
// and, after a drop, its finish message anyway.
inline constexpr uint32_t kSelectionTimeoutMs = 2000;
// File lists longer than this are not read (the count stays 0); transfers
// in pieces (INCR) are refused the same way.
inline constexpr size_t kMaxListBytes = 1u << 20;

enum class DragKind { none, text, uriList };

// A file list wins over text: file managers offer both, and the list is
// what the user dragged. Text is any of the usual plain-text targets.
DragKind kindOfTypes(const std::vector<std::string>& typeNames);

// The number of URIs in a text/uri-list: one per line (CRLF or LF), comment
// lines starting with '#' and blank lines skipped. A line counts only when
// it starts with a URI scheme ("file:", "http:" ...), so binary garbage
// counts 0. A NUL byte ends a line, as some sources terminate the list.
int32_t countUriList(const char* data, size_t size);

}  // namespace VSTGUI::platform::x11
