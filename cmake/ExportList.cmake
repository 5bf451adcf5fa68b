# Makes a module-definition file from the toolkit's headers:
#   cmake -DOUTPUT=file.def -DFORWARD_TO=vltoolkit -DHEADERS="a.h|b.h" -P ExportList.cmake
# Every operation declared "VL_OP <result> name(arguments);" is exported as
# "_name@bytes": stdcall, 4 bytes an argument (every argument of the toolkit
# is 32 bits wide on 32-bit Windows), forwarded to the same operation in the
# DLL FORWARD_TO, which exports it as "name@bytes" (MinGW's own form).
set(lines "; Generated from the toolkit's headers by cmake/ExportList.cmake: do not edit.\nEXPORTS\n")
set(count 0)
string(REPLACE "|" ";" HEADERS "${HEADERS}")
foreach(header IN LISTS HEADERS)
  file(READ ${header} text)
  # One declaration may run over several lines: join them first.
  string(REGEX REPLACE "\n[ \t]+" " " text "${text}")
  string(REGEX MATCHALL "VL_OP[^;(]+\\([^)]*\\)" declarations "${text}")
  foreach(declaration IN LISTS declarations)
    string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)[ \t]*\\(([^)]*)\\)$" found "${declaration}")
    set(name ${CMAKE_MATCH_1})
    string(STRIP "${CMAKE_MATCH_2}" arguments)
    if(arguments STREQUAL "" OR arguments STREQUAL "void")
      set(bytes 0)
    else()
      string(REGEX REPLACE "[^,]" "" commas "${arguments}")
      string(LENGTH "${commas}" n)
      math(EXPR bytes "4 * (${n} + 1)")
    endif()
    string(APPEND lines "  _${name}@${bytes} = ${FORWARD_TO}.${name}@${bytes}\n")
    math(EXPR count "${count} + 1")
  endforeach()
endforeach()
if(NOT count EQUAL 84)
  message(FATAL_ERROR "ExportList: ${count} toolkit operations in the headers, 84 expected")
endif()
file(WRITE ${OUTPUT}.new "${lines}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
