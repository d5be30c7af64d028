# Cross build for 64-bit Windows with MinGW-w64 (posix threads) and a Qt built
# for win32-g++ (tools/windows/build-qt.sh). Pass the Qt prefix as BW_QT_PREFIX:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DBW_QT_PREFIX=DIR ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# GCC 12 at -O3 warns of out-of-bounds copies inside std::vector inserts that
# cannot happen; -O2 as the Linux build uses.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")

if(NOT BW_QT_PREFIX AND DEFINED ENV{BW_QT_PREFIX})
    set(BW_QT_PREFIX $ENV{BW_QT_PREFIX})
endif()
if(NOT BW_QT_PREFIX)
    message(FATAL_ERROR "Set BW_QT_PREFIX to the Qt for Windows prefix (tools/windows/build-qt.sh)")
endif()
# Seen by the compiler checks, which read this file again in a project of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BW_QT_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${BW_QT_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and tools run under Wine.
find_program(BW_WINE wine)
if(BW_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${BW_WINE})
endif()
