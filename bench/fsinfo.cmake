# The disk information cache updating 8 disks and 24 volumes from the
# sandbox's disk utility (20 ms per answer) while a 10 ms timer runs on the
# same event loop, against a shell running the same utility calls in a row.
if(TARGET KVXAppKit AND TARGET sandbox_support)
  add_executable(bench_fsinfo ${CMAKE_CURRENT_LIST_DIR}/fsinfo/fsinfo_bench.cpp)
  target_include_directories(bench_fsinfo PRIVATE ${PROJECT_SOURCE_DIR}/KVXAppKit/tests)
  target_link_libraries(bench_fsinfo PRIVATE app sandbox_support plist varno_warnings)
  kvx_link_appkit(bench_fsinfo)
endif()
