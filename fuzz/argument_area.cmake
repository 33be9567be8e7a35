# A process's argument area: any process on the machine writes it, and the
# root-run executor reads it for every process.
add_varno_fuzzer(argument_area SOURCES ${CMAKE_CURRENT_LIST_DIR}/argument_area_fuzz.cpp
  LIBS varnoToolCore)
