# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 toolchain (posix threads).
# Libraries are searched only in the MinGW sysroot and in the folders given in
# CMAKE_FIND_ROOT_PATH on the command line (tools/build-windows.sh adds its own
# prefix of libpng and GoogleTest built for Windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The executables run here under Wine: tests, test discovery and helpers alike.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
