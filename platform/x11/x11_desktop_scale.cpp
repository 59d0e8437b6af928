// The desktop's scale factor on X11: the Xft.dpi resource over 96.
//
// Desktops that scale their windows (GNOME, KDE, Xfce) write Xft.dpi into
// the root window's RESOURCE_MANAGER property, and `xrdb -merge` does by
// hand; Xlib hands the property over as the display's resource string.
// Other plug-in toolkits read exactly this, so a panel follows the same
// setting as its neighbours.
#include <X11/Xlib.h>
#undef CursorShape  // an X protocol constant that clashes with the toolkit enum

#include <charconv>
#include <cstring>

#include "vstgui/platform/native_window.h"

namespace VSTGUI::platform {

namespace {

// The value of the line "Xft.dpi:<blanks>value" of a resource string, or 0.
double xftDpi(const char* resources) {
    static constexpr char kName[] = "Xft.dpi:";
    for (const char* line = resources; line && *line;) {
        const char* end = std::strchr(line, '\n');
        if (!end) end = line + std::strlen(line);
        if (std::strncmp(line, kName, sizeof kName - 1) == 0) {
            const char* value = line + sizeof kName - 1;
            while (value < end && (*value == ' ' || *value == '\t'))
                ++value;
            double dpi = 0.0;
            const auto result = std::from_chars(value, end, dpi);
            return result.ec == std::errc() && dpi > 0.0 ? dpi : 0.0;
        }
        line = *end ? end + 1 : end;
    }
    return 0.0;
}

}  // namespace

double desktopScale(void* /*parent*/) {
    // The host's window lies on the display of DISPLAY, which our windows
    // open as well; the host's own connection is never used.
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 0.0;
    const double dpi = xftDpi(XResourceManagerString(display));
    XCloseDisplay(display);
    return dpi / 96.0;
}

}  // namespace VSTGUI::platform
