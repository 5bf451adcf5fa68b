# The Windows build (included by the top level when the toolchain is
# cmake/mingw-i686.cmake). Libraries: zlib from Debian's MinGW package,
# libsodium and liblzma cross-built from Debian's sources into the build tree
# by tools/windows-deps.sh (once; later runs find them there), GoogleTest
# from its Debian source. The desktop presenter stays on Linux for now: the
# Windows programs run with the headless presenter.
# DLLs carry their own names (vltoolkit.dll, vlUnit.dll, ruk_comm.dll).
set(CMAKE_SHARED_LIBRARY_PREFIX "")
# Programs and DLLs in one folder, where Windows looks for a program's DLLs.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
# The compiler's runtime DLLs go there too (see cmake/mingw-i686.cmake).
foreach(runtime libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${found}")
    message(FATAL_ERROR "The compiler's ${runtime} is not there (${found})")
  endif()
  file(COPY ${found} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
endforeach()
set(VL_DEPS_PREFIX ${CMAKE_BINARY_DIR}/deps/prefix)
if(NOT EXISTS ${VL_DEPS_PREFIX}/lib/libsodium.a OR NOT EXISTS ${VL_DEPS_PREFIX}/lib/liblzma.a)
  message(STATUS "Cross-building libsodium and liblzma from Debian's sources (tools/windows-deps.sh)")
  execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/tools/windows-deps.sh ${CMAKE_BINARY_DIR}
                  RESULT_VARIABLE deps_result)
  if(NOT deps_result EQUAL 0)
    message(FATAL_ERROR "tools/windows-deps.sh failed: no libsodium or liblzma for Windows")
  endif()
endif()
include_directories(SYSTEM ${VL_DEPS_PREFIX}/include)
link_directories(${VL_DEPS_PREFIX}/lib)
# Windows 7 and later (WSAPoll, GetTickCount64).
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)
# Both are static here; their headers must not ask for a DLL.
add_compile_definitions(SODIUM_STATIC LZMA_API_STATIC)
set(SODIUM_INCLUDE_DIR ${VL_DEPS_PREFIX}/include CACHE PATH "" FORCE)
set(SODIUM_LIBRARY ${VL_DEPS_PREFIX}/lib/libsodium.a CACHE FILEPATH "" FORCE)
set(ZLIB_INCLUDE_DIR /usr/${VL_MINGW_HOST}/include CACHE PATH "" FORCE)
set(ZLIB_LIBRARY /usr/${VL_MINGW_HOST}/lib/libz.a CACHE FILEPATH "" FORCE)

if(VL_TESTS)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

# vl_export_list(target def headers...): the .def file that exports the
# toolkit's operations from target under their decorated names
# ("_pAdd@8"), made from the headers at build time, each name forwarded to
# the toolkit's DLL where the operation lives (see cmake/ExportList.cmake).
function(vl_export_list target def)
  string(REPLACE ";" "|" headers "${ARGN}")
  add_custom_command(OUTPUT ${def}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${def} -DFORWARD_TO=vltoolkit -DHEADERS=${headers}
            -P ${CMAKE_SOURCE_DIR}/cmake/ExportList.cmake
    VERBATIM
    DEPENDS ${ARGN} ${CMAKE_SOURCE_DIR}/cmake/ExportList.cmake
    COMMENT "Export list of ${target} from the toolkit's headers")
  target_sources(${target} PRIVATE ${def})
endfunction()
