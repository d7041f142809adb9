# Cross build for 64-bit Windows: its tests run on every machine, and are the
# only Windows tests where Wine can run only 64-bit programs.
set(KESTRUNE_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
