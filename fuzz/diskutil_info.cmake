# What the disk utility prints, read by the disk information cache and by the
# agent's disk check.
add_varno_qt_fuzzer(diskutil_info
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/diskutil_info_fuzz.cpp
    ${CMAKE_SOURCE_DIR}/KVXAppKit/src/KVXDiskUtilText.cpp
    ${CMAKE_SOURCE_DIR}/VarnoAgent/DiskUtilText.cpp
    ${CMAKE_SOURCE_DIR}/platform/app/src/plistbridge.cpp
  INCLUDES
    ${CMAKE_SOURCE_DIR}/KVXAppKit/src
    ${CMAKE_SOURCE_DIR}/VarnoAgent
    ${CMAKE_SOURCE_DIR}/platform/app/include)
