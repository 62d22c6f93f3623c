# The tests of the Windows build, run under Wine (included by tests/ when
# cross-compiling for Windows).
#
# - GoogleTest is built from its sources (Debian's googletest package) with
#   this build's toolchain.
# - Every test program runs through cmake/wine/run (the cross-compiling
#   emulator), inside one session that the fixture `wine_session` opens before
#   the first test and closes after the last: a private Xvfb display
#   (1920x1080x24) that is the Windows desktop, and one persistent wineserver
#   on a Wine prefix kept in the build tree.
# - Test cases are found in the sources (gtest_add_tests), so neither the build
#   nor the start of ctest has to start Wine to list them; a name that no
#   longer matches a test fails instead of passing with nothing run.

set(KOLVEX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest sources, built with the Windows toolchain for the tests")
if(NOT EXISTS ${KOLVEX_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${KOLVEX_GOOGLETEST_SOURCE}: install the Debian "
                      "package googletest, or set KOLVEX_GOOGLETEST_SOURCE")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KOLVEX_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(lib gtest gtest_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()

set(KOLVEX_WINE_STATE ${PROJECT_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine/run ${KOLVEX_WINE_STATE})

add_test(NAME wine_session_start
         COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine/session start ${KOLVEX_WINE_STATE})
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine_session TIMEOUT 420)
add_test(NAME wine_session_stop
         COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine/session stop ${KOLVEX_WINE_STATE})
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine_session TIMEOUT 60)

# kolvex_add_wine_tests(target [DESKTOP] LABELS label... SOURCES file...)
# One ctest test per test case of `target`. DESKTOP: the cases draw on or read
# the desktop, which all programs of the session share, so they run one at a
# time.
function(kolvex_add_wine_tests target)
  cmake_parse_arguments(ARG "DESKTOP" "" "LABELS;SOURCES" ${ARGN})
  gtest_add_tests(TARGET ${target} SOURCES ${ARG_SOURCES} TEST_LIST tests)
  set_tests_properties(${tests} PROPERTIES
    FIXTURES_REQUIRED wine_session
    LABELS "${ARG_LABELS}"
    TIMEOUT 300
    SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
    FAIL_REGULAR_EXPRESSION " 0 tests from 0 test suites ran")
  if(ARG_DESKTOP)
    set_tests_properties(${tests} PROPERTIES RESOURCE_LOCK desktop)
  endif()
endfunction()
