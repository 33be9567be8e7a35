add_varno_test(volumes_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/volumes_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support)
add_dependencies(volumes_test varnoTool)
