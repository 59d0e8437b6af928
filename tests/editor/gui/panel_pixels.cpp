// Compares a part of a screenshot with the panel image that must be there:
// image NUMBER at source offset (OX, OY), drawn into the panel rectangle
// (L, T, R, B), over the background image 101, with the panel's top-left
// corner at (WX, WY) in the screenshot. With DENSITY 2 the panel was drawn
// at two pixels a unit, from the images 1000 above (the rectangle and the
// offset stay in panel units). Prints the number of pixels that differ by
// more than 3 in a channel; exit status 0 when none does.
//
//   panel_pixels SHOT.png WX WY NUMBER L T R B OX OY [DENSITY]
#include <stb_image.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "../editor_test_support.h"

int main(int argc, char** argv) {
    if (argc != 11 && argc != 12) {
        std::fprintf(stderr, "usage: panel_pixels SHOT.png WX WY NUMBER L T R B OX OY [DENSITY]\n");
        return 2;
    }
    const int density = argc == 12 ? std::atoi(argv[11]) : 1;
    if (density != 1 && density != 2) {
        std::fprintf(stderr, "panel_pixels: DENSITY is 1 or 2\n");
        return 2;
    }
    int v[10];
    for (int i = 2; i < 11; ++i)
        v[i - 1] = std::atoi(argv[i]);
    const int wx = v[1], wy = v[2], number = v[3];
    const VSTGUI::CRect where(v[4], v[5], v[6], v[7]);
    const VSTGUI::CPoint offset(v[8], v[9]);

    std::vector<unsigned char> bytes;
    if (FILE* f = std::fopen(argv[1], "rb")) {
        unsigned char chunk[4096];
        size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + got);
        std::fclose(f);
    }
    int w = 0, h = 0, n = 0;
    unsigned char* shot =
        stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &n, 3);
    if (!shot) {
        std::fprintf(stderr, "panel_pixels: cannot read %s\n", argv[1]);
        return 2;
    }
    int bad = 0;
    for (int y = where.top * density; y < where.bottom * density; ++y) {
        for (int x = where.left * density; x < where.right * density; ++x) {
            const uint32_t want = kvtest::composed(number, where, offset, x, y, density);
            const unsigned char* got = &shot[(static_cast<size_t>(y + wy) * w + x + wx) * 3];
            const int channels[3] = {static_cast<int>((want >> 16) & 0xFF),
                                     static_cast<int>((want >> 8) & 0xFF),
                                     static_cast<int>(want & 0xFF)};
            bool off = false;
            for (int c = 0; c < 3; ++c)
                off = off || std::abs(channels[c] - got[c]) > 3;
            if (off && bad++ < 3)
                std::fprintf(stderr, "  (%d, %d): want %06x, screen has %02x%02x%02x\n", x, y, want,
                             got[0], got[1], got[2]);
        }
    }
    stbi_image_free(shot);
    std::printf("%d\n", bad);
    return bad == 0 ? 0 : 1;
}
