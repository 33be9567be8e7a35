# Attacks on the installed set-user-ID executor (run as root; they drop to
# uid 65534 themselves).
add_library(varno_env_marker MODULE ${CMAKE_CURRENT_LIST_DIR}/env_marker.cpp)

add_varno_test(executor_security_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/security_test.cpp
  LIBS varnoToolCore varno_executor_harness sandbox_support
  ENV "VARNO_AUTH_FORM=$<TARGET_FILE:varno_auth_form>"
      "VARNO_ENV_MARKER=$<TARGET_FILE:varno_env_marker>")
add_dependencies(executor_security_test varnoTool varno_env_marker varno_auth_form
  kvx-authtrampoline)
