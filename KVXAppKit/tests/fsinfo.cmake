# The disk information cache against the sandbox's disk utility, and the
# disk utility and last stand-ins themselves.
add_varno_test(kvx_fsinfo_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fsinfo_test.cpp ${CMAKE_CURRENT_LIST_DIR}/fsinfo_standins_test.cpp
  LIBS app app_test_support sandbox_support plist
  ENV "QT_QPA_PLATFORM=offscreen")
kvx_link_appkit(kvx_fsinfo_test)
