# Checks resources/embed_png.cmake from the outside: a real image becomes an array of its
# exact size that starts with the PNG signature; a file that is not a PNG, or whose name is
# not a resource number, stops the build instead of being compiled in.
#   cmake -DEMBED=.../embed_png.cmake -DIMAGE=.../103.png -DWORK=<scratch dir> -P embed_png_check.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(embed files result_var)
  execute_process(COMMAND ${CMAKE_COMMAND} -DOUTPUT=${WORK}/out.cpp "-DPNG_FILES=${files}"
                          -P ${EMBED}
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  set(${result_var} ${rc} PARENT_SCOPE)
endfunction()

file(SIZE ${IMAGE} image_size)
get_filename_component(number ${IMAGE} NAME_WE)
embed("${IMAGE}" rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "embedding ${IMAGE} failed")
endif()
file(READ ${WORK}/out.cpp out)
if(NOT out MATCHES "kPng${number}\\[${image_size}\\] = {\n    0x89,0x50,0x4e,0x47,0x0d,0x0a,0x1a,0x0a,")
  message(FATAL_ERROR "the array for ${number} is missing, has the wrong size or the wrong start")
endif()
if(NOT out MATCHES "{${number}, kPng${number}, sizeof kPng${number}}")
  message(FATAL_ERROR "the table has no entry for ${number}")
endif()
string(REGEX MATCHALL "0x[0-9a-f][0-9a-f]," bytes "${out}")
list(LENGTH bytes count)
if(NOT count EQUAL image_size)
  message(FATAL_ERROR "${count} bytes written for a file of ${image_size}")
endif()

file(WRITE ${WORK}/7.png "GIF89a: not a PNG")
embed("${WORK}/7.png" rc)
if(rc EQUAL 0)
  message(FATAL_ERROR "a file that is not a PNG was embedded")
endif()

file(COPY_FILE ${IMAGE} ${WORK}/panel.png)
embed("${WORK}/panel.png" rc)
if(rc EQUAL 0)
  message(FATAL_ERROR "a file not named by a resource number was embedded")
endif()

file(COPY_FILE ${IMAGE} ${WORK}/70000.png)
embed("${WORK}/70000.png" rc)
if(rc EQUAL 0)
  message(FATAL_ERROR "a number beyond 16 bits was embedded")
endif()
