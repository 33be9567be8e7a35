add_varno_test(writers_fault_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/writers_fault_test.cpp
  LIBS varnoToolCore)
