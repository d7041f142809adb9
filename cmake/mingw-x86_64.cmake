# Cross build for 64-bit Windows, used to run the tests where Wine can only
# run 64-bit programs.
set(KESTRUNE_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
