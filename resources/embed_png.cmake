# Writes OUTPUT, a C++ source holding the bytes of each PNG_FILES entry (named <number>.png)
# as a constant array, and the table kEmbeddedPngs that find_png_resource.cpp searches.
#   cmake -DOUTPUT=out.cpp "-DPNG_FILES=a/101.png;a/102.png" -P embed_png.cmake
if(NOT OUTPUT OR NOT PNG_FILES)
  message(FATAL_ERROR "embed_png.cmake needs OUTPUT and PNG_FILES")
endif()

set(arrays "")
set(entries "")
set(count 0)
foreach(png IN LISTS PNG_FILES)
  get_filename_component(number ${png} NAME_WE)
  if(NOT number MATCHES "^[0-9]+$" OR number GREATER 65535)
    message(FATAL_ERROR "${png}: image files are named by their resource number (0 to 65535)")
  endif()
  file(READ ${png} hex HEX)
  string(LENGTH "${hex}" hex_length)
  string(SUBSTRING "${hex}" 0 16 signature)
  if(NOT signature STREQUAL "89504e470d0a1a0a")
    message(FATAL_ERROR "${png} is not a PNG file")
  endif()
  math(EXPR size "${hex_length} / 2")
  # Two hex digits per byte; 20 bytes to a line (CMake's regex has no {n} counts).
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x[0-9a-f][0-9a-f]," 20 line_pattern)
  string(REGEX REPLACE "(${line_pattern})" "\\1\n    " bytes "${bytes}")
  string(APPEND arrays "alignas(16) const uint8_t kPng${number}[${size}] = {\n    ${bytes}\n};\n\n")
  string(APPEND entries "    {${number}, kPng${number}, sizeof kPng${number}},\n")
  math(EXPR count "${count} + 1")
endforeach()

set(source "// Generated at build time by resources/embed_png.cmake from resources/*.png.
// Do not edit: change the PNG files instead.
#include \"embedded_pngs.h\"

namespace kv_resources {
namespace {

${arrays}}  // namespace

const EmbeddedPng kEmbeddedPngs[] = {
${entries}};
const size_t kEmbeddedPngCount = ${count};

}  // namespace kv_resources
")

# Rewrite only on change, so that an unchanged image set compiles nothing again.
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
  if(old STREQUAL source)
    return()
  endif()
endif()
file(WRITE ${OUTPUT} "${source}")
