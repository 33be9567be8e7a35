add_varno_fuzzer(request SOURCES ${CMAKE_CURRENT_LIST_DIR}/request_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/varnoTool/Request.cpp
  LIBS plist contract)
target_include_directories(fuzz_request PRIVATE ${CMAKE_SOURCE_DIR}/varnoTool)
