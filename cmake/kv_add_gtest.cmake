# kv_add_gtest(TARGET LABEL label [PREFIX prefix] [FILTER filter] [TIMEOUT seconds]
#              SOURCES source... [LIBRARIES library...])
#
# A GoogleTest program with its own main (GTest::gtest_main) whose tests ctest
# lists one by one: each test of the program becomes a ctest test named
# PREFIX followed by Suite.Case, with the label LABEL. FILTER keeps the tests
# a gtest filter selects (a second gtest_discover_tests of the same program
# with the opposite filter can give the rest another label or prefix).
# Test programs see the source tree's root as their include path, as the
# libraries they test do.
include_guard(GLOBAL)
include(GoogleTest)

function(kv_add_gtest target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "LABEL;PREFIX;FILTER;TIMEOUT" "SOURCES;LIBRARIES")
  if(NOT arg_LABEL OR NOT arg_SOURCES OR arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "kv_add_gtest(${target} ${ARGN}): needs LABEL and SOURCES, and nothing else")
  endif()
  add_executable(${target} ${arg_SOURCES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  set(discovery)
  if(arg_PREFIX)
    list(APPEND discovery TEST_PREFIX ${arg_PREFIX})
  endif()
  if(arg_FILTER)
    list(APPEND discovery TEST_FILTER ${arg_FILTER})
  endif()
  set(properties LABELS ${arg_LABEL})
  if(arg_TIMEOUT)
    list(APPEND properties TIMEOUT ${arg_TIMEOUT})
  endif()
  gtest_discover_tests(${target} ${discovery} PROPERTIES ${properties})
endfunction()
