# Toolchain for the native 32-bit Windows build (MinGW-w64, posix threads):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# Programs are linked statically (libgcc, libstdc++, winpthread), so they
# need no DLL beside them but their own. Tests run under Wine through CTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VL_MINGW_HOST i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VL_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VL_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${VL_MINGW_HOST}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VL_MINGW_HOST})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
