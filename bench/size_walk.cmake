# sizeAtFSRef against du -sb, and the recursive folder listing against find.
if(TARGET varnoToolCore)
  add_executable(bench_size_walk ${CMAKE_CURRENT_LIST_DIR}/size_walk/main.cpp)
  target_link_libraries(bench_size_walk PRIVATE varnoToolCore varno_warnings)
endif()
