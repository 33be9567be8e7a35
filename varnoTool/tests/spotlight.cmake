add_varno_test(spotlight_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/spotlight_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support)
add_dependencies(spotlight_test varnoTool)
