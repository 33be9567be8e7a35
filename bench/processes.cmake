# The process query (the executor run with "KVXAEQueryProcessesAuthExec")
# against ps asked for the same columns, with 500 extra sleeping processes.
add_executable(bench_processes ${CMAKE_CURRENT_LIST_DIR}/processes/processes_bench.cpp)
target_link_libraries(bench_processes PRIVATE auth plist host contract varno_warnings)
target_compile_definitions(bench_processes PRIVATE
  VARNO_TOOL_PATH="${VARNO_MACOS_DIR}/varnoTool")
add_dependencies(bench_processes varnoTool)
