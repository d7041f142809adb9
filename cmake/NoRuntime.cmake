# Cross builds of Windows programs that bring their own start-up code and
# link no C or C++ runtime: setup.exe, unzip.exe and the benchmark's stand-in
# SETUP.EXE. Included by the top-level project and by bench/.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
  message(FATAL_ERROR "Configure with -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake (or mingw-x86_64.cmake)")
endif()
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type" FORCE)
endif()
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)

# Nothing the C++ runtime would have to supply: no exceptions, RTTI, unwind
# tables, stack guard or guarded statics; a section per function, so that
# the linker drops what is not called.
set(KESTRUNE_NO_RUNTIME_COMPILE_OPTIONS
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-stack-protector -fno-threadsafe-statics
  -ffunction-sections -fno-ident)

# Compiles `target` without the runtime and links it with no start files,
# entered at the C++ function `entry`; stripped in release builds.
function(kestrune_no_runtime_program target entry)
  target_compile_options(${target} PRIVATE ${KESTRUNE_NO_RUNTIME_COMPILE_OPTIONS})
  # 32-bit symbol names carry a leading underscore.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(entry _${entry})
  endif()
  target_link_options(${target} PRIVATE -nostdlib -nostartfiles -Wl,-e,${entry} -Wl,--gc-sections
                      $<$<CONFIG:Release,MinSizeRel>:-s>)
endfunction()
