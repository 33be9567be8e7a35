add_varno_test(clean_binaries_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/clean_binaries_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support bundle_test_support)
add_dependencies(clean_binaries_test varnoTool sandbox-lipo)
