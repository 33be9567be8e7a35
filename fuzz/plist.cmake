# Property-list readers: XML and binary. Both check that what they read
# survives writing and reading again.
add_varno_fuzzer(plist_xml
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/plist_xml.cpp ${CMAKE_CURRENT_LIST_DIR}/plist_compare.cpp
  LIBS plist)
add_varno_fuzzer(plist_binary
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/plist_binary.cpp ${CMAKE_CURRENT_LIST_DIR}/plist_compare.cpp
  LIBS plist)
