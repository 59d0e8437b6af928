// The one translation unit that compiles the PNG decoder. Only PNG is
// needed: the library's images are all PNG resources.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb_image.h>
