# Cross build of the product: 32-bit Windows.
set(KESTRUNE_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
