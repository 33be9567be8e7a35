add_library(varno_executor_harness STATIC ${CMAKE_CURRENT_LIST_DIR}/executor_harness.cpp)
target_include_directories(varno_executor_harness PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(varno_executor_harness PUBLIC varno_test_support auth plist host)

add_executable(varno_auth_form ${CMAKE_CURRENT_LIST_DIR}/auth_form.cpp)
target_link_libraries(varno_auth_form PRIVATE auth)

add_varno_test(executor_protocol_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/protocol_test.cpp
  LIBS varnoToolCore varno_executor_harness)
# Makes one C library call fail inside the executor it is preloaded into.
add_library(varno_call_fault MODULE ${CMAKE_CURRENT_LIST_DIR}/call_fault.cpp)
target_link_libraries(varno_call_fault PRIVATE varno_warnings ${CMAKE_DL_LIBS})

add_varno_test(executor_entry_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/entry_test.cpp
  LIBS varnoToolCore varno_executor_harness
  ENV "VARNO_AUTH_FORM=$<TARGET_FILE:varno_auth_form>"
      "VARNO_CALL_FAULT=$<TARGET_FILE:varno_call_fault>")
add_dependencies(executor_entry_test varnoTool varno_auth_form varno_call_fault
  kvx-authtrampoline)
