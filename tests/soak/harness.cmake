# The soak harness, one program for the CTest soak and the benchmark: whichever
# folder comes first defines it.
if(NOT TARGET vlsoak AND TARGET vlinit AND TARGET vlpost AND EXISTS ${CMAKE_SOURCE_DIR}/console/main.cpp)
  find_package(Threads REQUIRED)
  add_executable(vlsoak
    ${CMAKE_CURRENT_LIST_DIR}/soak.cpp
    ${CMAKE_CURRENT_LIST_DIR}/relay.cpp
    ${CMAKE_CURRENT_LIST_DIR}/plan.cpp
    ${CMAKE_CURRENT_LIST_DIR}/check.cpp)
  target_link_libraries(vlsoak PRIVATE velloran_core Threads::Threads)
  vl_runs_programs(vlsoak)
endif()
