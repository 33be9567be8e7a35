add_varno_test(setfile_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/setfile_test.cpp
  LIBS varno_test_support)
add_dependencies(setfile_test SetFile)
