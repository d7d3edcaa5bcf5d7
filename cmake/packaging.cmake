# Install layout of the Linux programs and their Debian package (CPack DEB); the Windows build installs nothing.
include(GNUInstallDirs)
if(WIN32)
  return()
endif()

# The package's files are written by the installer, so their modes do not
# follow the umask of whoever builds it.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# cpack builds only what it installs (release.sh names the programs), not the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(zp3k_package zp3k-tools)
set(zp3k_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${zp3k_package})

# Debian wants the changelog compressed without name or time stamp (gzip -n),
# so the same source gives the same package.
set(zp3k_changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
set(zp3k_changelog_gz ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zp3k_changelog})
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
execute_process(COMMAND gzip -9n -c ${zp3k_changelog}
                OUTPUT_FILE ${zp3k_changelog_gz} RESULT_VARIABLE gzip_status)
if(NOT gzip_status EQUAL 0)
  message(FATAL_ERROR "gzip -9n of ${zp3k_changelog} failed: ${gzip_status}")
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${zp3k_changelog_gz}
        DESTINATION ${zp3k_docdir})

# The package version is the project's, with Debian revision 1.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${zp3k_package})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ZP3K tools developers <zp3k-tools@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert and download ZP3K controller images")
set(CPACK_PACKAGE_DESCRIPTION [[
Command-line programs for the flash memory of ZP3K target controllers:
imgconv converts a Motorola S-record file into a ZP3K image file (2048-byte
blocks, 64-byte header with checksum, version and comment), imgload sends one
to three image files to a controller over a serial line with a progress bar,
and zp3ksim simulates a controller on a pseudo-terminal for demonstrations,
tests and work without hardware.]])
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
