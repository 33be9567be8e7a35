# Throughput of Varno's record-stream parser against cat on the same stream.
if(TARGET varnoStream)
  add_executable(bench_records ${CMAKE_CURRENT_LIST_DIR}/records/records_bench.cpp)
  target_link_libraries(bench_records PRIVATE varnoStream plist varno_warnings)
endif()
