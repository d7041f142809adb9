# How the project registers its tests, shared by every directory that has some.
include(GoogleTest)

# A GoogleTest program's tests, one ctest test each, read from its sources.
# A test that calls GTEST_SKIP is counted as skipped, not as passed.
# Windows test programs mark their start for tests/start_windows_test.sh.
function(kestrune_add_gtests target prefix)
  if(CMAKE_CROSSCOMPILING)
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/start_mark.cpp)
  endif()
  gtest_add_tests(TARGET ${target} TEST_PREFIX "${prefix}" TEST_LIST tests)
  set_tests_properties(${tests} PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endfunction()

# The Wine settings of the Windows tests, as scripts/wine-env.sh gave them when
# the build was configured; kept in the cache, so that ctest run from any shell
# uses the same prefix.
set(KESTRUNE_WINE_ENVIRONMENT)
if(CMAKE_CROSSCOMPILING)
  foreach(variable WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES WINESERVER)
    if(DEFINED ENV{${variable}})
      set(KESTRUNE_TEST_${variable} "$ENV{${variable}}" CACHE STRING "${variable} for the Windows tests" FORCE)
    endif()
    if(DEFINED KESTRUNE_TEST_${variable})
      list(APPEND KESTRUNE_WINE_ENVIRONMENT "${variable}=${KESTRUNE_TEST_${variable}}")
    endif()
  endforeach()
endif()

# Every test of the calling directory runs with those settings, after the
# fixture that readies the prefix (tests/wine_prefix_fixture.sh), and alone:
# the Windows tests share one desktop and drive C:, whose top they watch for
# changes, and look for the launcher's boxes by caption.
function(kestrune_tests_use_wine)
  get_property(tests DIRECTORY PROPERTY TESTS)
  list(REMOVE_ITEM tests wine.prefix)
  if(tests)
    set_property(TEST ${tests} APPEND PROPERTY ENVIRONMENT ${KESTRUNE_WINE_ENVIRONMENT})
    set_property(TEST ${tests} APPEND PROPERTY FIXTURES_REQUIRED wine_prefix)
    set_property(TEST ${tests} PROPERTY RUN_SERIAL TRUE)
  endif()
endfunction()
