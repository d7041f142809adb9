# The password of package.zip is decided when the launcher is built. It is
# written into a generated header only, never onto the build's output.
set(KESTRUNE_PACKAGE_PASSWORD "Kestrune-Package-2026" CACHE STRING
    "Password of package.zip, built into setup.exe (no blanks or quotes)")
if(KESTRUNE_PACKAGE_PASSWORD MATCHES "[ \t\"\\\\]" OR KESTRUNE_PACKAGE_PASSWORD STREQUAL "")
  message(FATAL_ERROR "KESTRUNE_PACKAGE_PASSWORD must be non-empty and hold no blanks, quotes or backslashes")
endif()
set(KESTRUNE_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/package_password.h.in
               ${KESTRUNE_GENERATED_DIR}/package_password.h @ONLY)
# For the tools and tests that make archives with the same password.
file(WRITE ${KESTRUNE_GENERATED_DIR}/package_password.txt "${KESTRUNE_PACKAGE_PASSWORD}")
