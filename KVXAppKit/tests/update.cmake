# The update checker against a database served on loopback, and its strings
# tables.
add_varno_test(kvx_update_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/update_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/update_strings_test.cpp
  LIBS app app_test_support plist host
  ENV "QT_QPA_PLATFORM=offscreen")
kvx_link_appkit(kvx_update_test)
target_include_directories(kvx_update_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../src)
