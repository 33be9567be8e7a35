add_varno_test(clean_caches_logs_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/clean_caches_logs_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support)
add_dependencies(clean_caches_logs_test varnoTool)

add_varno_test(clean_localizations_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/clean_localizations_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support)
add_dependencies(clean_localizations_test varnoTool)
