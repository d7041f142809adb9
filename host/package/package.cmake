# What `cmake --install` puts beside kestrune-medium (tools/medium installs
# the program and its manual page), and the Debian package CPack makes of
# it. Included before tools/medium, so that its install rules share the
# directory permissions.
include(GNUInstallDirs)
# As Debian wants them, whatever the umask of whoever installs.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Who the Debian package and its changelog name.
set(KESTRUNE_MAINTAINER "Seed 2e16b586 maintainers <maintainers@users.noreply.c-seed-2e16b586.example>")
set(KESTRUNE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kestrune)

# The shipped product: the 32-bit programs, which kestrune-medium finds in
# ../share/kestrune/ from its own folder.
install(FILES ${KESTRUNE_PRODUCT_LAUNCHER} ${KESTRUNE_PRODUCT_EXTRACTOR} DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrune)

# The documents: the README, the tool's reference, the copyright file and
# the changelog Debian asks of every package (gzip -n: no time stamp in it).
string(TIMESTAMP KESTRUNE_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/package/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/package/changelog.gz
  COMMAND gzip -9 -n -f -k ${CMAKE_CURRENT_BINARY_DIR}/package/changelog
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/package/changelog
  VERBATIM)
add_custom_target(kestrune-changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/package/changelog.gz)
install(FILES ${KESTRUNE_ROOT_DIR}/README.md ${CMAKE_CURRENT_LIST_DIR}/copyright
              ${CMAKE_CURRENT_BINARY_DIR}/package/changelog.gz
        DESTINATION ${KESTRUNE_DOC_DIR})
install(FILES ${KESTRUNE_ROOT_DIR}/tools/medium/README.md DESTINATION ${KESTRUNE_DOC_DIR} RENAME kestrune-medium.md)

# The Debian package (scripts/package.sh): kestrune_<version>_amd64.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VERSION ${KESTRUNE_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KESTRUNE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes, signs and checks media of the kestrune setup.exe launcher")
# One quoted text, lines as they stand in the control file.
set(CPACK_PACKAGE_DESCRIPTION "kestrune-medium lays out a distribution medium from a payload folder:
the launcher setup.exe, the extraction tool unzip.exe and the encrypted
package.zip they open. It marks and signs the launcher (through
osslsigncode), writes disc images (through xorriso) and checks finished
media. The 32-bit Windows programs it puts on a medium are in
/usr/share/kestrune; the launcher holds the package password it was
built with.")
# The libraries the program links (libzip and the C and C++ runtimes), as
# dpkg-shlibdeps finds them; the programs it runs for signing and disc
# images are recommended: without them the rest works.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "osslsigncode, xorriso")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
