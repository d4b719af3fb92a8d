# Installation and the Debian packages.
#
#   cmake --install build                          tersify, its man page, the README
#   cmake --install build --component gui          tersify-gui, the program with its window
#   cmake --install build --component testing      the TDS test server as well
#   scripts/package.sh                             the .deb files (CPack)
#
# Two packages: `tersify` holds the console program, built without Qt, so that
# a headless jump host installs no GUI libraries; `tersify-gui` holds the
# program with its window (bin/tersify-gui), when Qt is found.

set(TERSIFY_DOC_FILES README.md)

# The console program, whatever the build has: bin/tersify.
install(TARGETS tersify-console RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tersify)

# Debian keeps manual pages and changelogs gzipped (and reproducibly: no name,
# no time stamp).
function(tersify_gzip source output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND gzip -9nc ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
endfunction()
set(TERSIFY_CHANGELOG ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog)
tersify_gzip(${CMAKE_CURRENT_SOURCE_DIR}/tersify.1 ${CMAKE_CURRENT_BINARY_DIR}/tersify.1.gz)
tersify_gzip(${TERSIFY_CHANGELOG} ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_target(tersify_man_page ALL
                  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/tersify.1.gz ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)

# The changelog's latest entry is the release being built: its version must be
# the project's, and its signer is the packages' maintainer unless the builder
# names another (TERSIFY_MAINTAINER, for example from DEBFULLNAME and DEBEMAIL).
file(STRINGS ${TERSIFY_CHANGELOG} tersify_changelog_top LIMIT_COUNT 1)
if(NOT tersify_changelog_top MATCHES "^tersify \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog has no entry for version ${PROJECT_VERSION} (VERSION) at its top: "
                      "add one for the release")
endif()
file(STRINGS ${TERSIFY_CHANGELOG} tersify_changelog_signers REGEX "^ -- ")
list(GET tersify_changelog_signers 0 tersify_changelog_signer)
string(REGEX REPLACE "^ -- (.*>)  .*$" "\\1" tersify_changelog_signer "${tersify_changelog_signer}")
set(TERSIFY_MAINTAINER "${tersify_changelog_signer}" CACHE STRING
    "Maintainer field of the Debian packages: Name <address>")

foreach(component tersify gui)
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${component})
  if(component STREQUAL gui)
    set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/tersify-gui)
  endif()
  install(FILES packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${docdir}
          COMPONENT ${component})
endforeach()
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tersify.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tersify)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tersify)
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME tersify COMPONENT tersify)

set(TERSIFY_PACKAGE_COMPONENTS tersify)
if(TARGET tersify_gui)
  # The program with its window: kept in a folder of its own (its file is
  # named tersify too), reached as bin/tersify-gui, its manual page the
  # console program's.
  install(TARGETS tersify RUNTIME DESTINATION ${CMAKE_INSTALL_LIBDIR}/tersify-gui COMPONENT gui)
  install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
                file(CREATE_LINK ../${CMAKE_INSTALL_LIBDIR}/tersify-gui/tersify
                     \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tersify-gui\" SYMBOLIC)
                file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1\")
                file(CREATE_LINK tersify.1.gz
                     \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1/tersify-gui.1.gz\" SYMBOLIC)"
          COMPONENT gui)
  list(APPEND TERSIFY_PACKAGE_COMPONENTS gui)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tersify)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TERSIFY_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TERSIFY_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${TERSIFY_PACKAGE_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies are read from the binaries (dpkg-shlibdeps); the ODBC
# driver is loaded by name at run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_TERSIFY_PACKAGE_NAME tersify)
set(CPACK_DEBIAN_TERSIFY_PACKAGE_DEPENDS "tdsodbc")
# Each package's description: its summary line, then lines of at most 80
# characters (CPack does not wrap them).
set(CPACK_DEBIAN_TERSIFY_DESCRIPTION "compress or decompress the blobs of one table column in place
tersify rewrites one blob column of one table in place, storing values as
zlib blob envelopes or plainly again, on Microsoft SQL Server through ODBC
(FreeTDS) or on a SQLite file. This is the console program: it needs no
display and no Qt; the window comes with tersify-gui.")
set(CPACK_DEBIAN_GUI_PACKAGE_NAME tersify-gui)
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION database)
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "tersify (= ${PROJECT_VERSION}), tdsodbc")
set(CPACK_DEBIAN_GUI_DESCRIPTION "tersify with its window, for compressing a blob column in place
tersify-gui is the tersify program with its Qt window: it lists the
application's tables with blob columns, shows the equivalent command line and
runs the same pass with a progress bar. Its command line is the console
program's.")
set(CPACK_STRIP_FILES ON)
include(CPack)
