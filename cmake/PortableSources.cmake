# The sources that need no operating system, named once. The product builds
# them into setup.exe and unzip.exe; the host build (unit tests,
# kestrune-medium), the fuzzers and the static analysis take the same lists.
# Paths are relative to the repository root, KESTRUNE_ROOT_DIR.
#   cmake -P cmake/PortableSources.cmake   prints every list's files on one line
get_filename_component(KESTRUNE_ROOT_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

# The launcher's: bounded text, the command tail and switches, tail markers,
# the composition of paths and command lines, the package's entry positions,
# the work directory's security records, the judgement of an existing
# directory's owner and access list, the removal's retries, the reading of
# child outcomes and the run's exit code.
set(KESTRUNE_LAUNCHER_PORTABLE_SOURCES
  text/bounded_text.cpp
  launcher/command_tail.cpp
  launcher/switches.cpp
  launcher/tail_marker.cpp
  install/commands.cpp
  install/entry_position.cpp
  install/work_directory_security.cpp
  install/directory_trust.cpp
  install/removal_retry.cpp
  process/child_outcome.cpp
  launcher/exit_codes.cpp)
# Their unit tests that need no Windows either, run natively as well.
set(KESTRUNE_LAUNCHER_PORTABLE_TESTS
  launcher/switches_test.cpp
  install/entry_position_test.cpp
  install/work_directory_security_test.cpp
  install/directory_trust_test.cpp
  install/removal_retry_test.cpp
  process/child_outcome_test.cpp
  launcher/exit_codes_test.cpp)
# unzip.exe's archive reading: the archive, decryption, the CRC, entry
# times, names in UTF-16 and the entry name checks (each name alone, and
# names that clash).
set(KESTRUNE_ZIP_READER_SOURCES
  tools/unzip/zip_archive.cpp
  tools/unzip/zip_crypto.cpp
  tools/unzip/zip_crc.cpp
  tools/unzip/entry_time.cpp
  tools/unzip/unicode_text.cpp
  tools/unzip/entry_name.cpp
  tools/unzip/entry_clashes.cpp)
# unzip.exe's arguments and extraction, over its file system interface.
set(KESTRUNE_UNZIP_EXTRACT_SOURCES
  tools/unzip/arguments.cpp
  tools/unzip/extract_archive.cpp)
# What the host adds in place of the Windows parts: the POSIX file system and
# threads, and the reader's std-container forms.
set(KESTRUNE_UNZIP_HOST_SOURCES
  tools/unzip/file_system_posix.cpp
  tools/unzip/zip_reader_containers.cpp)

# Sets `out` to the files of the named lists, as absolute paths.
function(kestrune_source_paths out)
  set(paths)
  foreach(list ${ARGN})
    foreach(file ${${list}})
      list(APPEND paths ${KESTRUNE_ROOT_DIR}/${file})
    endforeach()
  endforeach()
  set(${out} ${paths} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED LISTS)
    set(LISTS KESTRUNE_LAUNCHER_PORTABLE_SOURCES KESTRUNE_ZIP_READER_SOURCES KESTRUNE_UNZIP_EXTRACT_SOURCES)
  endif()
  set(files)
  foreach(list ${LISTS})
    list(APPEND files ${${list}})
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo ${files})
endif()
