add_varno_test(swap_volume_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/swap_volume_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support)
add_dependencies(swap_volume_test varnoTool kvx_dynamic_pager_start)
