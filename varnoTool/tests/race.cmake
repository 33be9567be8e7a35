# Operations run while a hostile user swaps its folders on their way for links.
add_varno_test(executor_race_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/race_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support bundle_test_support)
add_dependencies(executor_race_test varnoTool SetFile)
