add_varno_test(trash_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/trash_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support)
add_dependencies(trash_test varnoTool)
