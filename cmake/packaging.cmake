# Installation and the Debian package.
#
#   cmake --install build                          tersify, its man page, the README
#   cmake --install build --component testing      the TDS test server as well
#   scripts/package.sh                             the .deb (CPack)

install(TARGETS tersify RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tersify)

# Debian keeps manual pages gzipped (and reproducibly: no name, no time stamp).
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/tersify.1.gz
  COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/tersify.1 > ${CMAKE_CURRENT_BINARY_DIR}/tersify.1.gz
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tersify.1
  VERBATIM)
add_custom_target(tersify_man_page ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/tersify.1.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tersify.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tersify)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tersify)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tersify)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tersify maintainers <tersify@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compress or decompress the blobs of one table column in place")
set(CPACK_PACKAGE_DESCRIPTION
    "tersify rewrites one blob column of one table in place, storing values as zlib blob envelopes or plainly again, on Microsoft SQL Server through ODBC (FreeTDS) or on a SQLite file.")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies are read from the binary (dpkg-shlibdeps); the ODBC
# driver is loaded by name at run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "tdsodbc")
set(CPACK_STRIP_FILES ON)
# Only what a full installation holds goes in: the test server's component
# is excluded from it.
include(CPack)
