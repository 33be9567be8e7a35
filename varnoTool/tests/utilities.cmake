# The utility layer every operation shares.
add_varno_test(executor_utilities_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/utilities_paths_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/utilities_files_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/utilities_plist_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/utilities_tasks_test.cpp
  LIBS varnoToolCore)
