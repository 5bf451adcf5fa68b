# Toolchain for the native 32-bit Windows build (MinGW-w64, posix threads):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The compiler's runtime (libstdc++, libgcc, winpthread) is one set of DLLs
# shared by every program and library of ours (cmake/Windows.cmake puts them
# beside the programs): with a static copy in each DLL, an exception thrown
# in one library and caught in another meets an unwinder that does not know
# the other's frames, and the process ends. Tests run under Wine through CTest.
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
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
