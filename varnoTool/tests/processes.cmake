add_varno_test(processes_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/processes_test.cpp
  LIBS varnoToolCore varno_executor_harness proc_test_support)
add_dependencies(processes_test varnoTool)
