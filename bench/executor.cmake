add_executable(bench_executor_start ${CMAKE_CURRENT_LIST_DIR}/executor/executor_start.cpp)
target_link_libraries(bench_executor_start PRIVATE auth plist host contract varno_warnings)
target_compile_definitions(bench_executor_start PRIVATE
  VARNO_TOOL_PATH="${VARNO_MACOS_DIR}/varnoTool")
