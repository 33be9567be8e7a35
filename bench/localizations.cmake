# Scanning for localization folders: allLProjPaths against find on the same
# tree of application bundles.
add_executable(bench_localizations ${CMAKE_CURRENT_LIST_DIR}/localizations/localizations_bench.cpp)
target_link_libraries(bench_localizations PRIVATE varnoToolCore plist host varno_warnings)
target_compile_definitions(bench_localizations PRIVATE
  VARNO_SANDBOX_BUILDER="$<TARGET_FILE:varno-sandbox>")
add_dependencies(bench_localizations varno-sandbox)
