# Cross-building the Windows x64 programs with mingw-w64 (Debian's
# g++-mingw-w64-x86-64-posix: std::thread needs the POSIX thread model).
# The tests run under Wine through CTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# zlib from Debian's libz-mingw-w64-dev, the static library (libz.a, not the
# import library of a DLL), so that the programs need nothing beside them.
set(ZLIB_USE_STATIC_LIBS ON)

# Wine runs what the build runs (tests, test discovery), in a prefix of the
# build's own; scripts/wine-run creates it on first use.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
