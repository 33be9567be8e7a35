# Names and processes a hostile local user can make, against every operation
# that lists them.
find_package(EXPAT REQUIRED)
add_varno_test(hostile_names_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/hostile_names_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support proc_test_support bundle_test_support
    EXPAT::EXPAT)
add_dependencies(hostile_names_test varnoTool sandbox-lipo)
