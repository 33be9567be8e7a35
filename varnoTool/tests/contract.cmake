# The contract held to the code: a build of the dispatcher that records
# every parameter lookup. Never installed.
add_executable(varno_key_recorder ${CMAKE_CURRENT_LIST_DIR}/key_recorder.cpp)
target_link_libraries(varno_key_recorder PRIVATE varnoToolCore varno_warnings)

add_varno_test(executor_contract_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/contract_test.cpp
  LIBS contract plist sandbox_support
  ENV "VARNO_KEY_RECORDER=$<TARGET_FILE:varno_key_recorder>")
add_dependencies(executor_contract_test varno_key_recorder varnoTool SetFile)
