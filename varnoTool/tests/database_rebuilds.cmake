add_varno_test(database_rebuilds_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/database_rebuilds_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support)
add_dependencies(database_rebuilds_test varnoTool)
