# The executor emptying a folder against rm -rf of an identical copy.
add_executable(bench_removal ${CMAKE_CURRENT_LIST_DIR}/removal/main.cpp)
target_link_libraries(bench_removal PRIVATE auth plist host contract varno_warnings)
target_compile_definitions(bench_removal PRIVATE VARNO_TOOL_PATH="${VARNO_MACOS_DIR}/varnoTool")
