find_package(EXPAT REQUIRED)
add_varno_fuzzer(hostile_names SOURCES ${CMAKE_CURRENT_LIST_DIR}/hostile_names_fuzz.cpp
  LIBS varnoStream plist EXPAT::EXPAT)
