add_varno_test(system_settings_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/system_settings_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support)
add_dependencies(system_settings_test varnoTool SetFile)
