# Cross-compiles the Windows programs (64-bit) with Debian's mingw-w64, posix thread model.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# scripts/build-windows does this and more. The C and C++ runtimes are linked statically, so each
# .exe needs nothing beyond what every Windows has. Tests run under Wine (CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(IMP_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${IMP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${IMP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${IMP_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${IMP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# mingw-w64's own POSIX functions that the core uses (localtime_r); windows.h without its min and
# max macros.
set(CMAKE_CXX_FLAGS_INIT "-D_POSIX_THREAD_SAFE_FUNCTIONS=200112L -DNOMINMAX")

find_program(IMP_WINE NAMES wine wine64)
if(IMP_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${IMP_WINE})
endif()
