# The login and restart records "last" prints, read by the agent at the start
# of a session.
add_varno_qt_fuzzer(last_output
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/last_output_fuzz.cpp
    ${CMAKE_SOURCE_DIR}/VarnoAgent/RebootTime.cpp
  INCLUDES ${CMAKE_SOURCE_DIR}/VarnoAgent)
