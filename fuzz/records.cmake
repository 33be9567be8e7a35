add_varno_fuzzer(records SOURCES ${CMAKE_CURRENT_LIST_DIR}/records_fuzz.cpp
  LIBS varnoStream)
