# Cross-building the Windows program with Debian's MinGW-w64 packages:
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The compilers are named in full: the posix-threads variant is the one with std::thread and
# std::mutex, and the plain name may point at the win32-threads variant instead.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_MINGW_PREFIX}-windres)
set(CMAKE_AR ${ZV_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZV_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${ZV_MINGW_PREFIX}-strip CACHE FILEPATH "")

# Everything linked in, the C++ and threads runtimes included: the programs need no DLL beyond
# the system's own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Look for libraries and headers among the cross-built ones only, for programs on the build host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine on the build host.
find_program(ZV_WINE wine)
if(ZV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZV_WINE})
endif()
