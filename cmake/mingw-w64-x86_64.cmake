# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the POSIX-thread
# variant: the win32 one has no std::thread or std::mutex in GCC 12).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TERSIFY_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TERSIFY_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TERSIFY_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TERSIFY_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TERSIFY_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the C and C++ runtimes and winpthreads linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)

# Test programs run under Wine (gtest discovery, ctest).
find_program(TERSIFY_WINE wine)
if(TERSIFY_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TERSIFY_WINE})
endif()
