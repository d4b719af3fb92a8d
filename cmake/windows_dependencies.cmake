# The libraries of the Windows build, under the names the Linux build finds
# them by: zlib from mingw-w64, SQLite and libdeflate compiled here from
# Debian's sources (scripts/windows.sh fetches them), ODBC and the digests
# from Windows itself.
set(TERSIFY_SQLITE_SOURCE_DIR "" CACHE PATH "Folder holding the SQLite amalgamation (sqlite3.c, sqlite3.h)")
set(TERSIFY_LIBDEFLATE_SOURCE_DIR "" CACHE PATH "libdeflate's source tree (libdeflate.h, lib/)")
foreach(required sqlite3.c libdeflate.h)
  if(required STREQUAL "sqlite3.c")
    set(where ${TERSIFY_SQLITE_SOURCE_DIR})
  else()
    set(where ${TERSIFY_LIBDEFLATE_SOURCE_DIR})
  endif()
  if(NOT EXISTS "${where}/${required}")
    message(FATAL_ERROR "${required} not found in '${where}': run scripts/windows.sh, which fetches it")
  endif()
endforeach()

# mingw-w64's own printf family, which follows C99 (%zu, %lld) as glibc's
# does. GCC still checks "printf" formats by Microsoft's older rules there and
# would flag %zu: the formats are checked by the Linux build instead.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
add_compile_options(-Wno-format)

find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

# SQLite with the options Debian builds its library with that the system can
# notice (column metadata, URI file names, thread safety).
add_library(tersify_sqlite3 STATIC ${TERSIFY_SQLITE_SOURCE_DIR}/sqlite3.c)
target_include_directories(tersify_sqlite3 SYSTEM PUBLIC ${TERSIFY_SQLITE_SOURCE_DIR})
target_compile_definitions(tersify_sqlite3 PRIVATE
  SQLITE_THREADSAFE=1 SQLITE_ENABLE_COLUMN_METADATA SQLITE_USE_URI=1 SQLITE_SECURE_DELETE
  SQLITE_ENABLE_UPDATE_DELETE_LIMIT=1 SQLITE_MAX_VARIABLE_NUMBER=250000 SQLITE_LIKE_DOESNT_MATCH_BLOBS
  SQLITE_OMIT_LOOKASIDE=1)
target_compile_options(tersify_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS tersify_sqlite3)

file(GLOB TERSIFY_LIBDEFLATE_SOURCES ${TERSIFY_LIBDEFLATE_SOURCE_DIR}/lib/*.c
     ${TERSIFY_LIBDEFLATE_SOURCE_DIR}/lib/x86/*.c)
add_library(tersify_libdeflate STATIC ${TERSIFY_LIBDEFLATE_SOURCES})
target_include_directories(tersify_libdeflate SYSTEM PUBLIC ${TERSIFY_LIBDEFLATE_SOURCE_DIR})
target_compile_options(tersify_libdeflate PRIVATE -w -O2)
add_library(PkgConfig::LIBDEFLATE ALIAS tersify_libdeflate)

add_library(tersify_odbc32 INTERFACE)
target_link_libraries(tersify_odbc32 INTERFACE odbc32)
add_library(PkgConfig::ODBC ALIAS tersify_odbc32)
add_library(tersify_odbccp32 INTERFACE)
target_link_libraries(tersify_odbccp32 INTERFACE odbccp32)
add_library(PkgConfig::ODBCINST ALIAS tersify_odbccp32)

# GoogleTest from its sources (Debian's googletest package), built with this compiler.
if(TERSIFY_TESTS)
  set(TERSIFY_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's source tree")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TERSIFY_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(t gtest gtest_main gmock gmock_main)
    target_compile_options(${t} PRIVATE -w)
  endforeach()
endif()
