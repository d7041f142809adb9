# Shared by the two cross toolchains; KESTRUNE_ARCH is set by the including
# file. The product is the 32-bit (i686) build; the x86_64 build of the same
# sources is tested on every machine, and is the only one tested where the
# kernel cannot run 32-bit programs, and so there is no 32-bit Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KESTRUNE_ARCH})

# The posix thread variant: GoogleTest needs std::mutex, which win32 lacks.
set(CMAKE_C_COMPILER ${KESTRUNE_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRUNE_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRUNE_ARCH}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUNE_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the Windows test programs through Wine; scripts/wine-env.sh
# says which Wine loader fits this machine.
# The choice is kept in the cache, so that a later re-run of cmake from a
# plain shell keeps it.
if(DEFINED ENV{KESTRUNE_WINE})
  set(KESTRUNE_WINE $ENV{KESTRUNE_WINE} CACHE FILEPATH "Wine loader that runs the tests" FORCE)
elseif(NOT KESTRUNE_WINE)
  find_program(KESTRUNE_WINE wine)
endif()
# Through a script that starts a test program again only when Wine never
# started it (tests/start_windows_test.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/start_windows_test.sh ${KESTRUNE_WINE})
