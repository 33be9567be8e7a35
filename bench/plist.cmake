# Property lists: our XML and binary readers and writers against libplist's
# plistutil converting the same ~20 MB documents (bench/plist/run).
add_executable(bench_plist ${CMAKE_CURRENT_LIST_DIR}/plist/plist_bench.cpp)
target_link_libraries(bench_plist PRIVATE plist varno_warnings)
