# The interface additions: images, screens, the workspace's volumes and
# sizes, the vertically centred text field cell.
add_varno_test(kvx_additions_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/additions_test.cpp
  LIBS app app_test_support host
  ENV "QT_QPA_PLATFORM=offscreen")
kvx_link_appkit(kvx_additions_test)
