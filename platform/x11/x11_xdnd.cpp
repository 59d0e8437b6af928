#include "platform/x11/x11_xdnd.h"

#include <algorithm>

namespace VSTGUI::platform::x11 {

namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
bool startsWithScheme(const char* line, size_t length) {
    if (length == 0 || !isAlpha(line[0])) return false;
    for (size_t i = 1; i < length; ++i) {
        const char c = line[i];
        if (c == ':') return i + 1 < length;  // something must follow
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return false;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

}  // namespace

DragKind kindOfTypes(const std::vector<std::string>& typeNames) {
    auto offers = [&](const char* name) {
        return std::find(typeNames.begin(), typeNames.end(), name) != typeNames.end();
    };
    if (offers("text/uri-list")) return DragKind::uriList;
    for (const char* text :
         {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING", "TEXT"})
        if (offers(text)) return DragKind::text;
    return DragKind::none;
}

int32_t countUriList(const char* data, size_t size) {
    if (!data) return 0;
    int32_t count = 0;
    size_t start = 0;
    while (start < size) {
        size_t end = start;
        while (end < size && data[end] != '\n' && data[end] != '\0')
            ++end;
        size_t first = start;
        while (first < end && isBlank(data[first]))
            ++first;
        size_t last = end;
        while (last > first && isBlank(data[last - 1]))
            --last;
        if (last > first && data[first] != '#' && startsWithScheme(data + first, last - first) &&
            count < INT32_MAX)
            ++count;
        start = end + 1;
    }
    return count;
}

}  // namespace VSTGUI::platform::x11
