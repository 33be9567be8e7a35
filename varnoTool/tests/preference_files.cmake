add_varno_test(preference_files_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/preference_files_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support)
add_dependencies(preference_files_test varnoTool)
