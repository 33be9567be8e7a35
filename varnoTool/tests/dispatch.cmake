add_varno_test(executor_dispatch_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dispatch_test.cpp
  LIBS varno_executor_harness sandbox_support)
add_dependencies(executor_dispatch_test varnoTool SetFile)
