# The strings tables in the application's bundle, read by the update checker.
add_varno_qt_fuzzer(strings_file
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/strings_file_fuzz.cpp
    ${CMAKE_SOURCE_DIR}/KVXAppKit/src/KVXUpdateStringsTable.cpp
  INCLUDES ${CMAKE_SOURCE_DIR}/KVXAppKit/src ${CMAKE_SOURCE_DIR}/platform/app/include)
