# The text "lipo -info" prints, read by the root-run executor to choose what
# to strip.
add_varno_fuzzer(lipo_info SOURCES ${CMAKE_CURRENT_LIST_DIR}/lipo_info_fuzz.cpp
  LIBS varnoToolCore)
