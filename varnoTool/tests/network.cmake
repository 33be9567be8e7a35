add_varno_test(network_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/network_test.cpp
  LIBS varnoToolCore varno_executor_harness)
add_dependencies(network_test varnoTool)
